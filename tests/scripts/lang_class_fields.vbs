' Class members Wine's VBScript cannot declare or use: array members, several
' members in one declaration, an object printed through its default member,
' Erase of an array of instances, and a class whose Class_Initialize makes
' another instance of itself without end.
Class Grid
  Private cells(2)
  Dim table(1, 1)
  Private rows()
  Public Title, Note

  Public Sub Fill()
    cells(0) = "a"
    cells(2) = "c"
    table(1, 0) = "t10"
    ReDim rows(1)
    rows(1) = "r1"
  End Sub

  Public Default Function Summary()
    Summary = Title & ":" & cells(0) & cells(1) & cells(2) & "," & _
              table(1, 0) & "," & rows(1) & "," & UBound(rows)
  End Function
End Class

Set g = New Grid
g.Title = "grid"
g.Note = "n"
g.Fill
WScript.Echo "fields:", g.Summary, g.Note
WScript.Echo g
WScript.Echo "public array:", g.table(1, 0), UBound(g.table, 2)
g.table(0, 1) = "t01"
WScript.Echo "assigned element:", g.table(0, 1)

Class Item
  Public Name
  Private Sub Class_Terminate
    WScript.Echo "terminate:", Name
  End Sub
End Class
Dim list(1)
Set list(0) = New Item
list(0).Name = "first"
Set list(1) = New Item
list(1).Name = "second"
Erase list
WScript.Echo "after: erase"

Class Again
  Public Inner
  Private Sub Class_Initialize
    Set Inner = New Again
  End Sub
End Class
On Error Resume Next
Set x = New Again
WScript.Echo "recursion:", Err.Number, Err.Description, IsEmpty(x)
On Error GoTo 0
WScript.Echo "done"
