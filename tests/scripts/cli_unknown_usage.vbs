' native-only: checks that "pellar frobnicate" is refused with exit code 2.
WScript.Echo "done"
