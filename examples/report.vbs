' A small report run: the report header sizes a work area, each detail
' record fills its cells, the footer reads values back and formats fields.
Option Explicit
Dim ufl, cell, rows, cols, name, city, amount, field

Set ufl = CreateObject("PellarLib.UFL")
WScript.Echo ufl.Help("productdescription"), ufl.Help("version")

' Report header
Set cell = CreateObject("PellarLib.Cell")
rows = 3
cols = 2
WScript.Echo cell.Clear(rows, cols)

' Detail records: one call per cell, echoing what was stored
WScript.Echo cell.SaveValue(0, 0, "Name", ""), cell.SaveValue(0, 1, "City", ""), cell.SaveValue(0, 2, "Amount", "")
WScript.Echo cell.SaveValue(1, 0, "Ada Lovelace", """"), cell.SaveValue(1, 1, "London", """"), cell.SaveValue(1, 2, "1815", "")
WScript.Echo cell.SaveValue(2, 0, "Blaise Pascal", """"), cell.SaveValue(2, 1, "Clermont, Auvergne", """"), cell.SaveValue(2, 2, "1623", "")
WScript.Echo cell.SaveValue(3, 0, "Grace ""Amazing"" Hopper", """"), cell.SaveValue(3, 1, "New York", """"), cell.SaveValue(3, 2, "1906", "")
WScript.Echo cell.SaveFormat(0, 0, "Bold", "1")
WScript.Echo cell.CopyFormat(0, 0, 0, 1, 0, 2)
WScript.Echo cell.SaveValue(4, 0, "too far", "")

' Report footer: read back, pad into columns, make CSV-safe fields
name = cell.GetValue(3, 0, """")
city = cell.GetValue(2, 1, """")
amount = cell.GetValue(1, 2, "")
field = name
Call cell.Pad(field, 26)
WScript.Echo "[" & field & "]" & cell.Pad(city, 10) & "|" & amount
WScript.Echo cell.FormatCSVData(name) & "," & cell.FormatCSVData(city)

WScript.Echo "Developer: " & ufl.Help("developer")

' Report footer, continued: the work area goes out as a delimited file, an
' XML data file and a worksheet control document under out/; the delimited
' file is then loaded into a second work area and searched by key.
Dim copy
WScript.Echo cell.SaveFile("out/report.csv", ";", 0)
Call cell.SetXMLTag(1, "City")
Call cell.SetXMLTag(2, "Amount")
WScript.Echo cell.SaveXMLFile("out/report.xml", "Report", "Person", 0)
WScript.Echo cell.SaveWorkSheet("out/report-sheet.xml", "Report.xls", "People")
Set copy = CreateObject("PellarLib.Cell")
WScript.Echo copy.Clear(3, 2)
WScript.Echo copy.LoadFile("out/report.csv", ";")
WScript.Echo copy.GetValue(2, 1, """") & " (" & copy.GetValue(2, 2, "") & ")"
WScript.Echo "Born 1815: " & cell.Lookup("out/report.csv", 2, "1815", 0, ";")
WScript.Echo "[" & cell.Lookup("out/report.csv", 2, "2000", 0, ";") & "]"

WScript.Echo "done"
