; The Windows installer: both processors' control and C API, registered for
; the current user or for all users.
; makensis -DVERSION=V -DSTAGE=DIR -DOUTFILE=FILE vantor_comm.nsi, where DIR
; holds what stage.py wrote (tools/windows-package.sh does all of it).
; Silent: setup.exe /S /CurrentUser or /S /AllUsers; uninstall.exe /S.

Unicode true
SetCompressor /SOLID lzma

!ifndef VERSION
!orifndef STAGE
!orifndef OUTFILE
  !error "VERSION, STAGE and OUTFILE are defined by tools/windows-package.sh"
!endif

!define NAME "Vantor Comm"
!define UNINST_PARENT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINST_KEY "${UNINST_PARENT}\VantorComm"
!define CONTROL "VantorComm.ocx"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR VantorComm
; The package carries a 64-bit control: its folder is the system's own.
!define MULTIUSER_USE_PROGRAMFILES64
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" ""

Var RegisterArgs

; regsvr32's arguments for the mode: DllInstall "user" writes below HKCU.
!macro SetRegisterArgs
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $RegisterArgs "/s"
  ${Else}
    StrCpy $RegisterArgs "/s /n /i:user"
  ${EndIf}
!macroend

; The 32-bit installer reaches the 64-bit regsvr32 through sysnative; $SYSDIR
; is the 32-bit one on a 64-bit system.
!macro Regsvr32 EXTRA ARCH REGSVR32
  ExecWait '"${REGSVR32}" $RegisterArgs ${EXTRA} "$INSTDIR\bin\${ARCH}\${CONTROL}"' $0
!macroend

Function .onInit
  ; A folder from /D= on the command line wins over the mode's.
  StrCpy $R9 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $R9 != ""
    StrCpy $INSTDIR $R9
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Function RegisterFailed
  Exch $1
  MessageBox MB_OK|MB_ICONSTOP "Registering $1 failed (regsvr32 exit status $0)." /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd

Section "Install"
  ; %LOCALAPPDATA%\Programs may be ours to make: if so, the uninstaller
  ; removes it too when it is empty.
  ${GetParent} "$INSTDIR" $1
  StrCpy $2 0
  ${IfNot} ${FileExists} "$1\*.*"
    StrCpy $2 1
  ${EndIf}
  ; So may the user's Uninstall key.
  StrCpy $3 0
  ClearErrors
  EnumRegKey $4 SHCTX "${UNINST_PARENT}" 0
  ${If} ${Errors}
    StrCpy $3 1
  ${EndIf}
  !include "${STAGE}/install-files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  !insertmacro SetRegisterArgs
  ${If} ${RunningX64}
    !insertmacro Regsvr32 "" x64 "$WINDIR\sysnative\regsvr32.exe"
    ${If} $0 != 0
      Push "bin\x64\${CONTROL}"
      Call RegisterFailed
    ${EndIf}
  ${EndIf}
  !insertmacro Regsvr32 "" x86 "$SYSDIR\regsvr32.exe"
  ${If} $0 != 0
    Push "bin\x86\${CONTROL}"
    Call RegisterFailed
  ${EndIf}

  ; Add/Remove Programs, in HKLM or HKCU as installed.
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${NAME} ${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${NAME}"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${If} $2 == 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "MadeParentFolder" 1
  ${EndIf}
  ${If} $3 == 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "MadeParentKey" 1
  ${EndIf}
SectionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; Whichever Add/Remove entry names this folder says how it was installed,
  ; whatever the command line says.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    ${If} $MultiUser.Privileges != "Admin"
    ${AndIf} $MultiUser.Privileges != "Power"
      MessageBox MB_OK|MB_ICONSTOP \
        "${NAME} was installed for all users: removing it needs administrator rights." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    Call un.MultiUser.InstallMode.AllUsers
  ${ElseIf} $1 == $INSTDIR
    Call un.MultiUser.InstallMode.CurrentUser
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Unregistered while the files are there, each server removing its own
  ; keys, in the reverse order: the first one registered made the folders.
  !insertmacro SetRegisterArgs
  !insertmacro Regsvr32 "/u" x86 "$SYSDIR\regsvr32.exe"
  ${If} ${RunningX64}
    !insertmacro Regsvr32 "/u" x64 "$WINDIR\sysnative\regsvr32.exe"
  ${EndIf}

  !include "${STAGE}/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ReadRegDWORD $1 SHCTX "${UNINST_KEY}" "MadeParentFolder"
  ReadRegDWORD $2 SHCTX "${UNINST_KEY}" "MadeParentKey"
  DeleteRegKey SHCTX "${UNINST_KEY}"
  ${If} $2 == 1
    DeleteRegKey /ifempty SHCTX "${UNINST_PARENT}"
  ${EndIf}
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  ${If} $1 == 1
    ${GetParent} "$INSTDIR" $1
    RMDir "$1"
  ${EndIf}
  ; The copy of the uninstaller that runs from %TEMP% goes at the next restart.
  ${If} $EXEDIR != $INSTDIR
    Delete /REBOOTOK "$EXEPATH"
    RMDir /REBOOTOK "$EXEDIR"
  ${EndIf}
SectionEnd
