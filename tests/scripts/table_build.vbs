' Building HTML tables cell by cell and handing the document text on.
Set t = CreateObject("PellarLib.Table")
' Before BuildNew there is no grid: bounds are 0 and cells fail.
WScript.Echo t.LoadCell(1, 0, "a", "")
On Error Resume Next
x = t.LoadCell(0, 0, "a", "")
WScript.Echo "LoadCell without grid:", Err.Number, Err.Description
Err.Clear
x = t.Save("tag", "")
WScript.Echo "Save without grid:", Err.Number
Err.Clear
On Error GoTo 0
WScript.Echo t.Clear()
' Sizes below 1 are raised, in the caller's Cols too.
cols = 0
WScript.Echo t.BuildNew(-4, cols), cols
cols = 3
WScript.Echo t.BuildNew(2, cols), cols
WScript.Echo t.LoadCell(0, 0, "Name", "class=""head""")
WScript.Echo t.LoadCell(3, 0, "x", "")
WScript.Echo t.LoadCell(0, 4, "x", "")
WScript.Echo t.AppendCell(-1, 9, "x")
WScript.Echo t.AppendCell(1, 1, "Ada"), t.AppendCell(1, 1, " Lovelace")
WScript.Echo t.LoadCell(2, 2, "", "bgcolor=red")
WScript.Echo t.Save("%T1%", "border=1")
first = t.GetText()
WScript.Echo Len(first), Left(first, 39), Right(first, 8)
' A second table follows the first; saving again replaces only its block.
cols = 1
WScript.Echo t.BuildNew(1, cols)
WScript.Echo t.LoadCell(0, 0, "<b>unescaped & raw</b>", "")
WScript.Echo t.Save("%T2%", "")
WScript.Echo Len(t.GetText())
WScript.Echo t.Save("%T2b%", "")
both = t.GetText()
WScript.Echo Len(both), Left(both, 39), Right(both, 8)
WScript.Echo Left(Right(both, 158), 41)
' Clear empties the text only; BuildNew then starts a fresh document.
WScript.Echo t.Clear(), "[" & t.GetText() & "]"
cols = 1
WScript.Echo t.BuildNew(1, cols)
WScript.Echo t.Save("%T3%", "")
WScript.Echo Left(t.GetText(), 39)
WScript.Echo "done"
