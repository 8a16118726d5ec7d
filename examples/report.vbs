' A small report run: the report header sizes a work area, a loop over the
' detail records fills its cells, the footer reads values back and formats
' fields.
Option Explicit
Dim ufl, cell, records, fields, row, col, value, line, born, total
Dim name, city, amount, field

' The detail records, one text per row: name;city;year of birth.
records = Array("Ada Lovelace;London;1815", _
                "Blaise Pascal;Clermont, Auvergne;1623", _
                "Grace ""Amazing"" Hopper;New York;1906")

' The century of a year, as the report prints it.
Function Century(year)
  Dim number
  number = year \ 100 + 1
  Select Case number Mod 10
    Case 1
      Century = number & "st century"
    Case 2
      Century = number & "nd century"
    Case 3
      Century = number & "rd century"
    Case Else
      Century = number & "th century"
  End Select
  If number >= 11 And number <= 13 Then Century = number & "th century"
End Function

Set ufl = CreateObject("PellarLib.UFL")
WScript.Echo ufl.Help("productdescription"), ufl.Help("version")

' Report header: a row of titles above the records
Set cell = CreateObject("PellarLib.Cell")
WScript.Echo cell.Clear(UBound(records) + 1, 2)
WScript.Echo cell.SaveValue(0, 0, "Name", ""), cell.SaveValue(0, 1, "City", ""), cell.SaveValue(0, 2, "Amount", "")

' Detail records: one call per cell, texts quoted, the year as it is
total = 0
For row = 1 To UBound(records) + 1
  fields = Split(records(row - 1), ";")
  line = ""
  For col = 0 To 2
    value = fields(col)
    Select Case col
      Case 2
        line = line & cell.SaveValue(row, col, value, "")
      Case Else
        line = line & cell.SaveValue(row, col, value, """") & " | "
    End Select
  Next
  born = CInt(fields(2))
  total = total + born
  WScript.Echo line & " (" & Century(born) & ")"
Next
WScript.Echo "Records: " & row - 1 & ", average year of birth: " & Round(total / (row - 1))
WScript.Echo cell.SaveFormat(0, 0, "Bold", "1")
WScript.Echo cell.CopyFormat(0, 0, 0, 1, 0, 2)
WScript.Echo cell.SaveValue(row, 0, "too far", "")

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

' File transfer and file operations on the files the report wrote under
' out/. Re-runnable: leftovers of an earlier run go first, and Call drops
' the answers of those clean-up calls, which differ between runs.
Dim ftp, files, folders
Set ftp = CreateObject("PellarLib.FTP")
Set files = CreateObject("PellarLib.File")
Set folders = CreateObject("PellarLib.Folder")
Call files.Delete("out/backup-*")
Call folders.Rename("out/archive", "out/staging")
Call files.Delete("out/worksheet.xml")

' FTP dry runs: each call writes the launcher (a shell script on POSIX, a
' batch file on Windows) and the FTP command file, and starts nothing. With
' True as the last argument the transfer starts; on POSIX lftp then leaves
' its transcript and exit status in out/ftp/send.txt.log. The first run
' answers "Folder Created", later runs "Folder already exists".
WScript.Echo folders.Create("out/ftp")
WScript.Echo ftp.SendFile("out/ftp/send.sh", "out/ftp/send.txt", "ftp.example.com", "reports", "s3cret", "/incoming", "report.csv", False)
WScript.Echo ftp.GetFile("out/ftp/get.sh", "out/ftp/get.txt", "ftp.example.com 2121", "reports", "s3cret", "/outgoing", "rates.csv", False)
WScript.Echo ftp.SendFile("out/ftp/send.sh", "out/ftp/send.txt", "ftp.example.com", "reports", "s3" & vbCrLf & "!cmd", "/incoming", "report.csv", False)

' Folders: create one (it may be left from the previous run) and rename it.
Call folders.Create("out/staging")
WScript.Echo "out/staging is a folder: " & folders.Exists("out/staging")
WScript.Echo folders.Rename("out/staging", "out/archive")

' Files: copy (replacing an older copy), rename, move, test and delete with
' a wildcard; the answers say what happened or why not.
WScript.Echo files.Copy("out/report.csv", "out/backup-report.csv")
WScript.Echo files.Copy("out/report.xml", "out/backup-report.xml")
WScript.Echo files.Rename("out/backup-report.xml", "out/backup-data.xml")
WScript.Echo files.Rename("out/report-sheet.xml", "out/report.xml")
WScript.Echo files.Rename("out/report-sheet.xml", "out/worksheet.xml")
WScript.Echo files.Move("out/backup-report.csv", "out/archive/report.csv")
WScript.Echo files.Move("out/missing.csv", "out/archive/missing.csv")
WScript.Echo "backups left: " & files.Exists("out/backup-*")
WScript.Echo files.Delete("out/backup-*")
WScript.Echo files.Delete("out/backup-*")
WScript.Echo "report.csv still there: " & files.Exists("out/report.csv") & ", archived: " & files.Exists("out/archive/report.csv")

' --- HTML tables and mail (append before the final "done" line) ---
' Assumes out/report.csv and out/report.xml were written above.
Dim table, tcols, mail, folder, program

' Two HTML tables built cell by cell; GetText hands the document on.
Set table = CreateObject("PellarLib.Table")
tcols = 1
WScript.Echo table.BuildNew(2, tcols)
WScript.Echo table.LoadCell(0, 0, "Name", "style=""font-weight:bold"""), table.LoadCell(0, 1, "Born", "style=""font-weight:bold""")
WScript.Echo table.LoadCell(1, 0, "Ada Lovelace", ""), table.LoadCell(1, 1, "1815", "align=right")
WScript.Echo table.LoadCell(2, 0, "Blaise Pascal", ""), table.LoadCell(2, 1, "1623", "align=right")
WScript.Echo table.LoadCell(3, 0, "too far", "")
WScript.Echo table.Save("%PEOPLE%", "border=1")
tcols = 0
WScript.Echo table.BuildNew(1, tcols), "cols raised to " & tcols
WScript.Echo table.LoadCell(0, 0, "Records", ""), table.AppendCell(0, 1, "2"), table.AppendCell(0, 1, " in total")
WScript.Echo table.Save("%TOTALS%", "")

' A message: text and HTML bodies, a body file, attachments, a login,
' an extra tag and a find-and-replace for the mail program.
Set mail = CreateObject("PellarLib.Email")
WScript.Echo mail.Clear()
WScript.Echo mail.Body("Dear all,")
WScript.Echo mail.Body("the figures for %MONTH% follow; the report is attached.")
WScript.Echo mail.BodyFile("out/report.csv")
WScript.Echo mail.HTML("<p>Dear all, the figures for %MONTH%:</p>")
Call mail.HTML(table.GetText())
WScript.Echo mail.Attach("out/report.csv"), mail.Attach("out/report.xml"), mail.Attach("out/report.csv")
WScript.Echo mail.Attach("out/missing.pdf")
WScript.Echo mail.SetServerLogin("reports", "example-password")
WScript.Echo mail.AddTag("Cc", "Tom & Jerry <tj@example.com>")
WScript.Echo mail.Edit("%MONTH%", "December")

' Spool it into out/outbox, whole and one attachment per file, then start
' the example mail program, which lists the outbox into out/outbox/mailer.txt.
Set folder = CreateObject("PellarLib.Folder")
folder.Create "out/outbox"
WScript.Echo mail.SaveOutbox("out/outbox", "smtp.example.com", "reports@example.com", "ada@example.com", "Monthly figures", "Figures")
WScript.Echo mail.SaveOutboxWithAttachments("out/outbox", "smtp.example.com", "reports@example.com", "ada@example.com", "Monthly figures", "FiguresSplit", 1)
program = "examples/mailer.sh"
WScript.Echo mail.SendOutbox("out/outbox", program)
WScript.Echo mail.SendOutbox("out/outbox", "examples/no-such-mailer")

WScript.Echo "done"
