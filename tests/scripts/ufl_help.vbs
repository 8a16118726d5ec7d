' UFL.Help answers the library's identity for each command word.
Set u = CreateObject("PellarLib.UFL")
WScript.Echo u.Help("version")
WScript.Echo u.Help("productdescription")
WScript.Echo u.Help("developer")
WScript.Echo "[" & u.Help("applicationname") & "]"
' The year inside "about" changes; its length and the parts around it do not.
a = u.Help("about")
WScript.Echo Len(a), Left(a, 14), Right(a, 16)
' Command words ignore case, nothing else.
WScript.Echo u.Help("VERSION"), u.Help("Developer"), Len(u.Help("ABOUT"))
WScript.Echo "[" & u.Help("nonsense") & "][" & u.Help(" about") & "][" & u.Help("abou") & "][" & u.Help("") & "]"
WScript.Echo "done"
