' native-only: checks "pellar --version"; the script itself is not run.
WScript.Echo "done"
