' native-only: a UTF-8 file with a byte order mark and non-ASCII text.
WScript.Echo "Grüße € 日本"
WScript.Echo Len("ü€"), Len("😀")
WScript.Echo "done"
