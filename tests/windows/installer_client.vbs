' Run by tests/windows/installer.sh with the cscript of each bitness once
' the installer package is installed: every class is created through the
' package's registry entries, from the DLL of the script host's bitness.
Set ufl = CreateObject("PellarLib.UFL")
WScript.Echo ufl.Help("version")
WScript.Echo ufl.Help("installedfolder")
Set cell = CreateObject("PellarLib.Cell")
WScript.Echo cell.Clear(2, 1)
Set table = CreateObject("PellarLib.Table")
Set email = CreateObject("PellarLib.Email")
Set ftp = CreateObject("PellarLib.FTP")
Set file = CreateObject("PellarLib.File")
Set folder = CreateObject("PellarLib.Folder")
WScript.Echo "done"
