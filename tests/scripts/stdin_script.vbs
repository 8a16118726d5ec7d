' native-only: run as "pellar run -", the script arriving on standard input;
' errors then name the file "-".
WScript.Echo "from standard input"
x = CLng("many")
