' The script host benchmark, run unchanged by pellar and by the Windows
' script host (bench/host_bench.py runs both). Each part is timed inside
' the script with Timer, so start-up does not count.
Function Scale(a, b)
  Scale = a * b + 1
End Function

' (a) arithmetic, comparison and string concatenation
t0 = Timer
n = 0
s = ""
For i = 1 To 1000000
  n = (n + i * 3) Mod 1000
  If n > 500 Then s = s & "a" Else s = s & "b"
  If Len(s) > 40 Then s = ""
Next
t1 = Timer

' (b) the library's own work through the automation table
Set cell = CreateObject("PellarLib.Cell")
cell.Clear 1000, 100
For i = 0 To 99999
  cell.SaveValue i Mod 1000, i Mod 100, "value", ""
Next
t2 = Timer

' (c) calls of a small Function
total = 0
For i = 1 To 10000
  total = total + Scale(i, 2)
Next
t3 = Timer

' (d) RegExp.Replace over a text of about 1 MB
text = Replace(String(36000, "-"), "-", "order 12345 due 2024-01-31; ")
Set re = New RegExp
re.Pattern = "(\d{4})-(\d{2})-(\d{2})"
re.Global = True
t3b = Timer
swapped = re.Replace(text, "$3/$2/$1")
t4 = Timer

' (e) 200,000 calls of a Dictionary's members, Exists and Item
Set d = CreateObject("Scripting.Dictionary")
For i = 0 To 999
  d.Add "k" & i, i
Next
t4b = Timer
hits = 0
For i = 1 To 100000
  If d.Exists("k500") Then hits = hits + d.Item("k500")
Next
t5 = Timer

WScript.Echo "check", n, Len(s), total, Len(swapped), hits
WScript.Echo "loop", t1 - t0
WScript.Echo "savevalue", t2 - t1
WScript.Echo "function", t3 - t2
WScript.Echo "regexp", t4 - t3b
WScript.Echo "dictionary", t5 - t4b
