' Spooling into the working folder and the refusals of SendOutbox. Spool
' file names are shown in two pieces so that the separator does not show.
Set m = CreateObject("PellarLib.Email")
WScript.Echo m.SaveOutbox("", "smtp.example.com", "a@example.com", "b@example.com", "Figures", "M1")
WScript.Echo m.SaveOutbox(".", "smtp.example.com", "a@example.com", "b@example.com", "Figures", "")
WScript.Echo m.SaveOutboxWithAttachments("", "s", "f", "t", "s", "", 1)
WScript.Echo m.SaveOutboxWithAttachments(".", "s", "f", "t", "s", "", 1)
Call m.Body("Dear all,")
r = m.SaveOutbox(".", "smtp.example.com", "a@example.com", "b@example.com", "Figures", "M1")
WScript.Echo Left(r, 20), Right(r, 6)
' The spool file just written and the script make two attachments.
WScript.Echo m.Attach("M1.xml"), m.Attach("email_spool.vbs")
r = m.SaveOutboxWithAttachments(".", "smtp.example.com", "a@example.com", "b@example.com", "Figures", "S", 1)
WScript.Echo Left(r, 20), Right(r, 35)
r = m.SaveOutboxWithAttachments(".", "smtp.example.com", "a@example.com", "b@example.com", "Figures", "T", 0)
WScript.Echo Left(r, 20), Right(r, 35)
' The same id again replaces the file.
r = m.SaveOutbox(".", "smtp.example.com", "a@example.com", "b@example.com", "Again", "M1")
WScript.Echo Left(r, 20), Right(r, 6)
WScript.Echo m.Attach("S0000.xml"), m.Attach("S0001.xml"), m.Attach("T0000.xml")
WScript.Echo m.Attach("S0002.xml")
' SendOutbox refuses an empty or missing program and starts nothing.
program = ""
WScript.Echo m.SendOutbox(".", program)
program = "no such mailer"
WScript.Echo m.SendOutbox(".", program)
WScript.Echo "[" & program & "]"
WScript.Echo "done"
