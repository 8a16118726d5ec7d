' native-only: checks "pellar --help"; the script itself is not run.
WScript.Echo "done"
