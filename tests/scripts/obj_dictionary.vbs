' Scripting.Dictionary.
Set d = CreateObject("Scripting.Dictionary")
d.Add "b", 2
d.Add "a", 1
d("c") = 3
d.Item("d") = 4
WScript.Echo "typename:", TypeName(d), IsObject(d)
WScript.Echo "count:", d.Count, d("a"), d.Item("c"), d.Exists("b"), d.Exists("B"), d.Exists("z")
keys = d.Keys
items = d.Items
WScript.Echo "keys:", keys(0), keys(1), keys(3), UBound(keys), items(0), items(3)
For Each k In d
  s = s & k & "=" & d(k) & " "
Next
WScript.Echo "for each:", s
d("a") = 10
WScript.Echo "replace:", d("a"), d.Count
d.Remove "b"
keys = d.Keys
WScript.Echo "remove:", d.Count, d.Exists("b"), keys(0)
WScript.Echo "missing read:", "[" & d("nothing here") & "]", d.Count, d.Exists("nothing here")
d.Key("c") = "cc"
WScript.Echo "rename:", d.Exists("c"), d("cc")
d.Add 1, "one"
d.Add "1", "text one"
WScript.Echo "typed keys:", d(1), d("1"), d.Count
d.RemoveAll
WScript.Echo "remove all:", d.Count
d.CompareMode = 1
d.Add "Key", "v"
WScript.Echo "text mode:", d.Exists("KEY"), d("kEy"), d.CompareMode
Set inner = CreateObject("Scripting.Dictionary")
inner.Add "x", 42
d.Add "obj", inner
Set o = d("obj")
WScript.Echo "object item:", o("x"), d("obj").Count, o Is inner
On Error Resume Next
d.Add "key", "again"
WScript.Echo "duplicate:", Err.Number, Err.Description
Err.Clear
d.Remove "absent"
WScript.Echo "remove absent:", Err.Number
Err.Clear
d.CompareMode = 0
WScript.Echo "compare mode when filled:", Err.Number
WScript.Echo "done"
