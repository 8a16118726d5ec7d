' WScript.Quit ends the script at once with its exit code.
Sub Finish(code)
  WScript.Echo "quitting with", code
  WScript.Quit code
  WScript.Echo "never printed"
End Sub
WScript.Echo "before"
Finish 3
WScript.Echo "never printed"
