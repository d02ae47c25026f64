; Setup program for trv-panel and trv-ctl on 64-bit Windows.
;   makensis -DSTAGE=<folder> -DVERSION=<x.y.z> -DOUTFILE=<setup.exe> trv-panel.nsi
; STAGE is laid out as installed and holds files.nsh and uninstall-files.nsh, the explicit
; lists written by scripts/windows/installer.sh: the uninstaller deletes only what those name,
; so a folder such as C:\Program Files chosen by mistake loses nothing else.
; Silent use: setup.exe /S [/ADDTOPATH] [/D=C:\folder]  (/D last, unquoted)
;             uninstall.exe /S

Unicode true
Target amd64-unicode
ManifestDPIAware true
ManifestSupportedOS all
SetCompressor /SOLID lzma

!ifndef STAGE
  !error "pass -DSTAGE=<staged folder>"
!endif
!ifndef VERSION
  !error "pass -DVERSION=<x.y.z>"
!endif
!ifndef OUTFILE
  !define OUTFILE "trv-panel-setup.exe"
!endif
!if /FileExists "${STAGE}/files.nsh"
!else
  !error "${STAGE}/files.nsh is missing: stage with scripts/windows/installer.sh"
!endif

!define APP "trv-panel"
!define PUBLISHER "trv-panel developers"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; Where the uninstaller learns that the installer put the folder on PATH (and which entry),
; so an entry the user had made before is never taken away.
!define PATH_RECORD "PathEntry"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
; A reinstall or upgrade goes where the last one went, unless /D= or the user says otherwise.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${STAGE}/trv-panel.ico"
!define MUI_UNICON "${STAGE}/trv-panel.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var PathValue

; Walks the entries of a PATH value. Counts the entries naming DIR (compared without case,
; surrounding quotes or a trailing backslash, as Windows reads them) and returns the value
; rebuilt without the SKIP-th of them (0 keeps all). Stack in: SKIP, DIR, PATH (PATH on top);
; out: count, rebuilt value (count on top).
!macro PATH_WALK prefix
Function ${prefix}PathWalk
  Exch $0  ; PATH
  Exch
  Exch $1  ; DIR
  Exch 2
  Exch $2  ; SKIP
  Push $3  ; position
  Push $4  ; length
  Push $5  ; character
  Push $6  ; entry
  Push $7  ; count
  Push $8  ; rebuilt value
  Push $9  ; entries kept so far

  ; The directory as entries are compared.
  ${Do}
    StrCpy $5 $1 1 -1
    ${If} $5 == "\"
      StrCpy $1 $1 -1
    ${Else}
      ${Break}
    ${EndIf}
  ${Loop}

  StrCpy $3 0
  StrLen $4 $0
  StrCpy $6 ""
  StrCpy $7 0
  StrCpy $8 ""
  StrCpy $9 0
  ${Do}
    ${If} $3 < $4
      StrCpy $5 $0 1 $3
    ${Else}
      StrCpy $5 ";"  ; the end closes the last entry
    ${EndIf}
    ${If} $5 == ";"
      Push $6
      Call ${prefix}PathEntryNormal
      Pop $5
      ${If} $5 == $1
      ${AndIf} $5 != ""
        IntOp $7 $7 + 1
        ${If} $7 = $2
          StrCpy $6 "" ; skipped: neither the entry nor its separator goes back
          Goto next_entry
        ${EndIf}
      ${EndIf}
      ${If} $9 > 0
        StrCpy $8 "$8;$6"
      ${Else}
        StrCpy $8 "$6"
      ${EndIf}
      IntOp $9 $9 + 1
      next_entry:
      StrCpy $6 ""
    ${Else}
      StrCpy $6 "$6$5"
    ${EndIf}
    IntOp $3 $3 + 1
  ${LoopUntil} $3 > $4

  StrCpy $0 $8
  StrCpy $1 $7
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Exch $0  ; rebuilt value under the count
  Exch
  Exch $1  ; count on top
FunctionEnd

; An entry without surrounding quotes or trailing backslashes.
Function ${prefix}PathEntryNormal
  Exch $0
  Push $1
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
  ${EndIf}
  StrCpy $1 $0 1 -1
  ${If} $1 == '"'
    StrCpy $0 $0 -1
  ${EndIf}
  ${Do}
    StrCpy $1 $0 1 -1
    ${If} $1 == "\"
      StrCpy $0 $0 -1
    ${Else}
      ${Break}
    ${EndIf}
  ${Loop}
  Pop $1
  Exch $0
FunctionEnd

; Reads the system PATH into $PathValue. Sets the error flag, and says why in the details,
; when the value is missing or longer than this program's strings can hold (NSIS returns
; an empty string then, which written back would wipe the user's PATH), or when it could not
; take EXTRA more characters.
Function ${prefix}PathRead
  Exch $0  ; EXTRA
  Push $1
  ClearErrors
  ReadRegStr $PathValue HKLM "${ENV_KEY}" "Path"
  ${If} ${Errors}
    DetailPrint "The system PATH could not be read whole (it may be longer than ${NSIS_MAX_STRLEN} characters); it is left as it is."
    StrCpy $PathValue ""
    SetErrors
  ${Else}
    StrLen $1 $PathValue
    IntOp $1 $1 + $0
    ${If} $1 >= ${NSIS_MAX_STRLEN}
      DetailPrint "The system PATH is too long for this setup program to edit safely (${NSIS_MAX_STRLEN} characters at most); it is left as it is."
      StrCpy $PathValue ""
      SetErrors
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro PATH_WALK ""
!insertmacro PATH_WALK "un."

Section "trv-panel and trv-ctl" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !include "${STAGE}/files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\trv-panel.exe" "" "$INSTDIR\trv-panel.ico" 0
  CreateShortcut "$SMPROGRAMS\${APP}\Uninstall ${APP}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\trv-panel.ico"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; Off unless chosen: the folder holds the Qt and C++ runtime DLLs beside trv-ctl, and on the
; system PATH every program that misses one of those would find ours instead.
Section /o "Add trv-ctl to the system PATH" SecPath
  StrLen $0 "$INSTDIR"
  IntOp $0 $0 + 1
  Push $0
  Call PathRead
  ${If} ${Errors}
    Return
  ${EndIf}
  Push 0
  Push "$INSTDIR"
  Push $PathValue
  Call PathWalk
  Pop $0  ; entries naming the folder
  Pop $1
  ${If} $0 > 0
    DetailPrint "$INSTDIR is on the system PATH already."
    Return
  ${EndIf}
  ${If} $PathValue == ""
    StrCpy $PathValue "$INSTDIR"
  ${Else}
    StrCpy $1 $PathValue 1 -1
    ${If} $1 == ";"
      StrCpy $PathValue "$PathValue$INSTDIR"
    ${Else}
      StrCpy $PathValue "$PathValue;$INSTDIR"
    ${EndIf}
  ${EndIf}
  WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $PathValue
  WriteRegStr HKLM "${UNINST_KEY}" "${PATH_RECORD}" "$INSTDIR"
  DetailPrint "Added $INSTDIR to the system PATH."
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
SectionEnd

Section "-size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; After the sections, whose index it needs.
Function .onInit
  SetShellVarContext all
  SetRegView 64
  ; /ADDTOPATH selects the PATH component for silent installs.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ADDTOPATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "The panel, the trv-ctl console program, the Qt libraries they use and Start-menu entries."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Lets a console run trv-ctl by name. Puts this folder, with its DLLs, on the PATH of every program."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  ; The PATH entry goes first, while the record of it is still there.
  ClearErrors
  ReadRegStr $3 HKLM "${UNINST_KEY}" "${PATH_RECORD}"
  ${IfNot} ${Errors}
  ${AndIf} $3 != ""
    Push 0
    Call un.PathRead
    ${IfNot} ${Errors}
      Push 0
      Push $3
      Push $PathValue
      Call un.PathWalk
      Pop $0
      Pop $1
      ${If} $0 > 0
        ; The last one is the one appended at install.
        Push $0
        Push $3
        Push $PathValue
        Call un.PathWalk
        Pop $0
        Pop $1
        WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $1
        DetailPrint "Removed $3 from the system PATH."
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
      ${EndIf}
    ${Else}
      DetailPrint "$3 stays on the system PATH; remove it by hand."
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\Uninstall ${APP}.lnk"
  RMDir "$SMPROGRAMS\${APP}"

  !include "${STAGE}/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: anything the user put there stays.
  RMDir "$INSTDIR"

  ; The user's settings (HKCU) are theirs and stay.
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
