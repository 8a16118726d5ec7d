Set x = CreateObject("PellarLib.Nope")
WScript.Echo x.Foo(1,
