' The control through VBScript's late binding, under cscript:
' check.vbs APP_DIR MISSING_DIR BLOCKING_FILE EVENTS_FILE RECORDS BLOCKING_PORT EVENTS_PORT
' APP_DIR exists without unit2.dat, MISSING_DIR does not exist; the ports have meters that
' send RECORDS records. Prints one line per failure, then "N passed, M failed".
'
' Wine's cscript prints nothing for an uncaught error, so every error is caught here. A
' statement that fails is skipped whole: each value is read into a variable first, so that
' a failing call leaves the variable Empty and its check fails instead of vanishing.
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0
failed = 0

Function Show(v)
    On Error Resume Next
    Show = "(" & TypeName(v) & ")"
    Show = CStr(v) & " (" & TypeName(v) & ")"
End Function

Sub Equal(what, actual, expected)
    On Error Resume Next
    Dim same
    same = False
    same = (TypeName(actual) <> "Empty" And actual = expected)
    If same Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & what & ": " & Show(actual) & ", expected " & Show(expected)
    End If
End Sub

Sub Holds(what, text, part)
    On Error Resume Next
    Dim found
    found = False
    found = (InStr(1, text, part, vbTextCompare) > 0)
    If found Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & what & ": """ & text & """ does not name " & part
    End If
End Sub

' The elements of a one-dimensional array, as "a,b,c".
Function Elements(a)
    On Error Resume Next
    Dim i, s
    s = ""
    For i = LBound(a) To UBound(a)
        If i > LBound(a) Then s = s & ","
        s = s & CStr(a(i))
    Next
    Elements = s
End Function

Sub Fill(a)
    Dim i
    For i = LBound(a) To UBound(a)
        a(i) = CInt(100 + i)
    Next
End Sub

Function Today()
    Today = Year(Date) & Right("0" & Month(Date), 2) & Right("0" & Day(Date), 2)
End Function

Const LIMIT = 120 ' seconds; a hang guard only

Dim appDir, missingDir, blockingFile, eventsFile, records, blockingPort, eventsPort
appDir = WScript.Arguments(0)
missingDir = WScript.Arguments(1)
blockingFile = WScript.Arguments(2)
eventsFile = WScript.Arguments(3)
records = CLng(WScript.Arguments(4))
blockingPort = CInt(WScript.Arguments(5))
eventsPort = CInt(WScript.Arguments(6))

Dim c, v, r, n, f, y, number, description, stamp, started, elapsed, i
Set c = CreateObject("VantorComm.Vantor_Comm")
Equal "CreateObject", Err.Number, 0
Err.Clear

' A fresh control.
n = 99
r = Empty
r = c.Read_Status(n)
Equal "Read_Status's result on a fresh control", r, 0
Equal "Read_Status's FrameCount on a fresh control", n, 0
n = 99
f = "x"
c.GetFilename n, f
Equal "GetFilename's idatano on a fresh control", n, 0
Equal "GetFilename's filename on a fresh control", f, ""
Err.Clear

' GetParameter on VBScript's arrays: the block lands in 0..5, the rest is kept.
Dim six(5), ten(9), four(3), none(), square(5, 5)
Fill six
r = Empty
r = c.GetParameter(six)
Equal "GetParameter(0..5)'s result", r, 0
Equal "GetParameter(0..5)'s elements", Elements(six), "0,0,0,0,0,0"
Fill ten
r = Empty
r = c.GetParameter(ten)
Equal "GetParameter(0..9)'s result", r, 0
Equal "GetParameter(0..9)'s elements", Elements(ten), "0,0,0,0,0,0,106,107,108,109"
Err.Clear
Fill four
c.GetParameter four
number = Err.Number
Err.Clear
Equal "GetParameter(0..3)'s error", number, 9
Equal "GetParameter(0..3)'s elements", Elements(four), "0,0,0,0"
c.GetParameter none
number = Err.Number
Err.Clear
Equal "GetParameter on an array without elements", number, 9
c.GetParameter square
number = Err.Number
Err.Clear
Equal "GetParameter on a two-dimensional array", number, 9

' By-reference arguments and stored properties.
y = False
c.CheckFile y
Equal "CheckFile from False", y, True
v = "110,E,7,2 is no line of this meter"
c.Settings = v
v = Empty
v = c.Settings
Equal "Settings read back", v, "110,E,7,2 is no line of this meter"
For Each n In Array(CInt(-32768), CInt(32767), CInt(110))
    c.Baudrate = n
    v = Empty
    v = c.Baudrate
    Equal "Baudrate read back", v, n
Next
c.Port = 3
v = Empty
v = c.Port
Equal "Port read back", v, 3
Err.Clear

' The unit file's errors, with df set all the same.
c.AppPath = appDir
stamp = Today()
c.ReadUnitFile
number = Err.Number
description = Err.Description
Err.Clear
Equal "ReadUnitFile without unit2.dat", number, 53
Holds "ReadUnitFile without unit2.dat", description, appDir & "\unit2.dat"
v = Empty
v = c.df
If v <> appDir & "\" & stamp & ".dat" Then stamp = Today()
Equal "df after error 53", v, appDir & "\" & stamp & ".dat"
c.AppPath = missingDir
c.ReadUnitFile
number = Err.Number
description = Err.Description
Err.Clear
Equal "ReadUnitFile in a missing folder", number, 76
Holds "ReadUnitFile in a missing folder", description, missingDir
v = Empty
v = c.df
If v <> missingDir & "\" & stamp & ".dat" Then stamp = Today()
Equal "df after error 76", v, missingDir & "\" & stamp & ".dat"

' A blocking download. Its box goes to standard error: nothing shows one here.
c.fg_Two_Display = True
c.bReadDataOK = False
c.Port = blockingPort
c.df = blockingFile
c.ReadDataLogger
Equal "ReadDataLogger", Err.Number, 0
Err.Clear
v = Empty
v = c.LastErrorNumber
Equal "LastErrorNumber after ReadDataLogger", v, 0
v = Empty
v = c.datano
Equal "datano after ReadDataLogger", v, records
v = Empty
v = c.fgTransferOK
Equal "fgTransferOK after ReadDataLogger", v, True
v = Empty
v = c.fgComPortOpen
Equal "fgComPortOpen after ReadDataLogger", v, False
v = Empty
v = c.fg_Two_Display
Equal "fg_Two_Display after ReadDataLogger", v, True
v = Empty
v = c.bReadDataOK
Equal "bReadDataOK after ReadDataLogger", v, False

' An event-driven download, carried by the calls that poll it.
c.fg_Two_Display = False
c.bReadDataOK = True
c.Settings = "300,O,7,2"
c.Baudrate = CInt(300)
c.Port = eventsPort
c.df = eventsFile
r = Empty
r = c.Start()
Equal "Start's result", r, 0
Err.Clear
started = Timer
Do
    r = Empty
    r = c.Read_Status(n)
    If Err.Number <> 0 Or r <> 0 Then Exit Do
    elapsed = Timer - started
    If elapsed < 0 Then elapsed = elapsed + 86400
    If elapsed > LIMIT Then Exit Do
Loop
Equal "Read_Status polled to the end", Err.Number, 0
Err.Clear
Equal "Read_Status at the end of a download", r, 1
Equal "FrameCount at the end of a download", (n > 0), True
v = Empty
v = c.FrameCount
Equal "FrameCount as Read_Status's", v, n
n = Empty
f = Empty
c.GetFilename n, f
Equal "GetFilename's idatano after a download", n, records
Equal "GetFilename's filename after a download", f, eventsFile
v = Empty
v = c.fgComPortOpen
Equal "fgComPortOpen after a download", v, False
v = Empty
v = c.LastErrorNumber
Equal "LastErrorNumber after a download", v, 0
v = Empty
v = c.fg_Two_Display
Equal "fg_Two_Display after a download", v, False
v = Empty
v = c.bReadDataOK
Equal "bReadDataOK after a download", v, True
y = False
c.CheckFile y
Equal "CheckFile from False after a download", y, True
Err.Clear

WScript.Echo passed & " passed, " & failed & " failed"
