' native-only: checks "pellar run" with a file that does not exist.
WScript.Echo "done"
