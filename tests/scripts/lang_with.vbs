' With blocks: the object is evaluated once; .Member reads, calls and
' assignments, Set .Member, nesting, arguments written .Member, and With on
' the host's and the library's objects.
Class Box
  Public Width
  Public Height
  Public Inner
  Public Function Area()
    Area = Width * Height
  End Function
End Class

Function MakeBox()
  calls = calls + 1
  Set MakeBox = New Box
End Function

Sub Show(label, value)
  WScript.Echo label, value
End Sub

calls = 0
With MakeBox()
  .Width = 3
  .Height = 4
  WScript.Echo "members:", .Width, .Height, .Area()
  Set .Inner = New Box
  With .Inner
    .Width = 5
    .Height = 6
    WScript.Echo "nested:", .Area()
  End With
  WScript.Echo "outer again:", .Area(), .Inner.Width
  Show "argument:", .Height
  If .Width = 3 Then WScript.Echo "one line if:", .Width + .Height
End With
WScript.Echo "evaluated once:", calls

Set d = CreateObject("Scripting.Dictionary")
With d
  .Add "a", 1
  .Add "b", 2
  .Item("a") = 10
  WScript.Echo "dictionary:", .Count, .Item("a"), .Exists("b")
End With

Set c = CreateObject("PellarLib.Cell")
With c
  .Clear 4, 2
  .SaveValue 1, 1, "alpha", ""
  WScript.Echo "library:", .GetValue(1, 1, "")
End With

' The block holds the object until End With, however it is left.
Class Temp
  Private Sub Class_Terminate
    WScript.Echo "terminate: temp"
  End Sub
  Public Sub Hello(i)
    WScript.Echo "hello:", i
  End Sub
End Class
With New Temp
  .Hello 0
End With
WScript.Echo "after: with"
For i = 1 To 3
  With New Temp
    .Hello i
    If i = 2 Then Exit For
  End With
Next
WScript.Echo "after: exit for"

On Error Resume Next
n = 5
With n
  WScript.Echo "not an object:", Err.Number
  x = .Width
  WScript.Echo "member of it:", Err.Number
End With
Err.Clear
On Error GoTo 0
WScript.Echo "done"
