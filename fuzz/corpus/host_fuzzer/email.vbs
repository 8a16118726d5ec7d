Set e = CreateObject("PellarLib.Email")
Set f = CreateObject("PellarLib.Folder")
WScript.Echo f.Create("outbox"), e.Clear()
WScript.Echo e.Body("Dear reader" & vbCrLf & "line"), e.HTML("<b>x</b>")
WScript.Echo e.SetServerLogin("user", "pw"), e.AddTag("Priority", "a&b")
WScript.Echo e.Edit("%n%", "42"), e.Attach("outbox"), e.BodyFile("none.txt")
WScript.Echo e.SaveOutbox("outbox", "smtp", "a@x", "b@x", "Subject", "M1")
WScript.Echo e.SaveOutboxWithAttachments("outbox", "smtp", "a@x", "b@x", "S", "M", 2)
p = "mail prog"
WScript.Echo e.SendOutbox("outbox", p), p
