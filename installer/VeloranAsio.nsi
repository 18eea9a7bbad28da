; Per-machine setup of the Veloran ASIO drivers and their test programs: on 64-bit Windows both
; bitnesses, each in its own Program Files; on 32-bit Windows the 32-bit ones only.
;
;   makensis -DVERSION=1.9.0.0 -DDRIVER=VeloranAsioDriver_x64.dll -DTESTHOST=VeloranAsioTest.exe
;            -DDRIVER32=VeloranAsioDriver_x86.dll -DTESTHOST32=x86/VeloranAsioTest.exe
;            -DOUTFILE=VeloranAsioSetup-1.9.0.0.exe VeloranAsio.nsi
;
; Exit codes: 0 done, 1 cancelled, 2 stopped (a file in use, registration refused, no rights).
; The uninstaller keeps the drivers' stored settings unless /REMOVESETTINGS is given or its box ticked.

Unicode true
; A 32-bit program, so that it runs on either Windows: the 64-bit registry view and system folder
; are named explicitly.
Target x86-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include x64.nsh

!define PRODUCT "Veloran ASIO Driver"
!define PUBLISHER "Veloran"
!define DRIVER_NAME "Asio 2.0 Veloran Driver"
!define FOLDER "Veloran\ASIO Driver"
!define DRIVER_FILE "VeloranAsioDriver_x64.dll"
!define DRIVER32_FILE "VeloranAsioDriver_x86.dll"
!define TESTHOST_FILE "VeloranAsioTest.exe"
!define SHORTCUT "$SMPROGRAMS\Veloran ASIO Test.lnk"
!define SHORTCUT32 "$SMPROGRAMS\Veloran ASIO Test (32-bit).lnk"
!define SETTINGS_KEY "Software\ASIO\${DRIVER_NAME}"
!define TESTHOST_KEY "Software\Veloran\Veloran ASIO Quillet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VeloranAsioDriver"
!define SE_REGISTRY_KEY 4
!define DACL_SECURITY_INFORMATION 4
; KEY_READ, WRITE_DAC and KEY_WOW64_64KEY (which 32-bit Windows ignores).
!define KEY_DACL_64 0x60119
; Read and write, inherited by the per-host keys below.
!define USERS_ACE "(A;CI;0x2001f;;;BU)"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${FOLDER}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${__FILEDIR__}\..\resources\driver\Veloran.ico"
!define MUI_UNICON "${__FILEDIR__}\..\resources\driver\Veloran.ico"
!define MUI_ABORTWARNING

!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"

LangString InUse ${LANG_ENGLISH} "$0 is in use by a running program (an audio application or the test program).$\r$\nClose it and choose Retry, or Cancel to leave the installed version as it is."
LangString InUse ${LANG_FRENCH} "$0 est utilisé par un programme en cours (une application audio ou le programme de test).$\r$\nFermez-le et choisissez Réessayer, ou Annuler pour laisser la version installée telle quelle."
LangString NotAdmin ${LANG_ENGLISH} "Installing or removing ${PRODUCT} needs administrator rights."
LangString NotAdmin ${LANG_FRENCH} "L'installation ou la suppression de ${PRODUCT} demande les droits d'administrateur."
LangString RegisterFailed ${LANG_ENGLISH} "Windows refused to register the driver (regsvr32 answered $0)."
LangString RegisterFailed ${LANG_FRENCH} "Windows a refusé d'enregistrer le pilote (regsvr32 a répondu $0)."
LangString RemoveSettings ${LANG_ENGLISH} "Also remove the saved settings"
LangString RemoveSettings ${LANG_FRENCH} "Supprimer aussi les réglages enregistrés"
LangString RemoveSettingsText ${LANG_ENGLISH} "Every program's driver settings and the test program's settings of this user. Left unticked, a later installation finds them again."
LangString RemoveSettingsText ${LANG_FRENCH} "Les réglages du pilote de chaque programme et ceux du programme de test pour cet utilisateur. Non coché, une installation ultérieure les retrouve."

; The 32-bit files' folder; on 64-bit Windows $INSTDIR holds the 64-bit files and the uninstaller.
Var Dir32

; What the setup and the uninstaller both need, once under each prefix.
!macro SharedFunctions UN
Function ${UN}RequireAdmin
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "$(NotAdmin)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Where the 32-bit files go: the 32-bit Program Files on 64-bit Windows, the chosen folder on
; 32-bit Windows, where they are the only ones.
Function ${UN}FindDir32
  ${If} ${RunningX64}
    StrCpy $Dir32 "$PROGRAMFILES32\${FOLDER}"
  ${Else}
    StrCpy $Dir32 "$INSTDIR"
  ${EndIf}
FunctionEnd

; A loaded DLL or a running program cannot be opened for writing: nothing is touched until
; every file can be replaced. $0 is the file's path.
Function ${UN}RefuseFileInUse
  ${Do}
    System::Call 'kernel32::CreateFileW(w r0, i 0x40000000, i 0, p 0, i 3, i 0, p 0) p .r2 ?e'
    Pop $3
    ${If} $2 P<> -1
      System::Call 'kernel32::CloseHandle(p r2)'
      Return
    ${EndIf}
    ${If} $3 = 2
    ${OrIf} $3 = 3
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUse)" /SD IDCANCEL IDRETRY again
    Abort "$0: in use"
    again:
  ${Loop}
FunctionEnd

; Files that are not there (the 64-bit ones on 32-bit Windows) pass.
Function ${UN}RefuseFilesInUse
  StrCpy $0 "$INSTDIR\${DRIVER_FILE}"
  Call ${UN}RefuseFileInUse
  StrCpy $0 "$INSTDIR\${TESTHOST_FILE}"
  Call ${UN}RefuseFileInUse
  StrCpy $0 "$Dir32\${DRIVER32_FILE}"
  Call ${UN}RefuseFileInUse
  StrCpy $0 "$Dir32\${TESTHOST_FILE}"
  Call ${UN}RefuseFileInUse
FunctionEnd

; Each driver by the regsvr32 of its own bitness, which writes to that bitness's registry view:
; Sysnative is the 64-bit system folder seen from a 32-bit program, whose own $SYSDIR is the
; 32-bit one. $0 is "" or "/u", then the first failing exit code (-1: not started), or 0.
Function ${UN}RunRegsvr32
  StrCpy $1 $0
  StrCpy $0 0
  ${If} ${RunningX64}
    StrCpy $2 "$WINDIR\Sysnative\regsvr32.exe"
    StrCpy $3 "$INSTDIR\${DRIVER_FILE}"
    Call ${UN}Regsvr32
  ${EndIf}
  StrCpy $2 "$SYSDIR\regsvr32.exe"
  StrCpy $3 "$Dir32\${DRIVER32_FILE}"
  Call ${UN}Regsvr32
FunctionEnd

; $2 run with $1 on $3; its exit code goes to $0 unless $0 already holds a failure.
Function ${UN}Regsvr32
  ClearErrors
  ExecWait '"$2" /s $1 "$3"' $4
  ${IfThen} ${Errors} ${|} StrCpy $4 -1 ${|}
  DetailPrint "regsvr32 $1 $3: $4"
  ${IfThen} $0 = 0 ${|} StrCpy $0 $4 ${|}
FunctionEnd
!macroend

!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; Hosts run without elevation and keep their settings under the driver's key (in the 64-bit view
; for both drivers), so the local Users group may read and write there: one explicit entry added to
; what the key has (and inherits).
Function GrantUsers
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SETTINGS_KEY}", i 0, i ${KEY_DACL_64}, *p .r0) i .r4'
  ${If} $4 <> 0
    DetailPrint "Users access: no key ($4)"
    Return
  ${EndIf}
  Call GrantUsersOnKey
  System::Call 'advapi32::RegCloseKey(p r0)'
FunctionEnd

; $0 is the open key.
Function GrantUsersOnKey
  System::Call 'advapi32::GetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, i ${DACL_SECURITY_INFORMATION}, p 0, p 0, p 0, p 0, *p .r1) i .r4'
  ${If} $4 <> 0
    DetailPrint "Users access: no descriptor ($4)"
    Return
  ${EndIf}
  System::Call 'advapi32::ConvertSecurityDescriptorToStringSecurityDescriptorW(p r1, i 1, i ${DACL_SECURITY_INFORMATION}, *p .r2, p 0) i .r4'
  System::Call 'kernel32::LocalFree(p r1)'
  ${If} $4 = 0
    DetailPrint "Users access: no descriptor text"
    Return
  ${EndIf}
  System::Call 'kernel32::lstrcpynW(w .r3, p r2, i ${NSIS_MAX_STRLEN}) p'
  System::Call 'kernel32::LocalFree(p r2)'
  ; Explicit entries go before the inherited ones: after "D:" and its flags.
  StrCpy $5 0
  ${Do}
    StrCpy $6 $3 1 $5
    ${IfThen} $6 == "(" ${|} ${Break} ${|}
    ${IfThen} $6 == "" ${|} ${Break} ${|}
    IntOp $5 $5 + 1
  ${Loop}
  StrCpy $6 $3 $5
  StrCpy $7 $3 "" $5
  StrCpy $3 "$6${USERS_ACE}$7"
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r3, i 1, *p .r1, p 0) i .r4'
  ${If} $4 = 0
    DetailPrint "Users access: descriptor refused"
    Return
  ${EndIf}
  System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r5, *p .r2, *i .r6) i .r4'
  System::Call 'advapi32::SetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, i ${DACL_SECURITY_INFORMATION}, p 0, p 0, p r2, p 0) i .r4'
  System::Call 'kernel32::LocalFree(p r1)'
  DetailPrint "Users access to ${SETTINGS_KEY}: $4"
FunctionEnd

Function .onInit
  Call RequireAdmin
  ; An installed version is replaced where it is.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpgrade
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${IfThen} $0 != "" ${|} Abort ${|}
FunctionEnd

Section "Install"
  Call FindDir32
  Call RefuseFilesInUse
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR"
    File "/oname=${DRIVER_FILE}" "${DRIVER}"
    File "/oname=${TESTHOST_FILE}" "${TESTHOST}"
  ${EndIf}
  SetOutPath "$Dir32"
  File "/oname=${DRIVER32_FILE}" "${DRIVER32}"
  File "/oname=${TESTHOST_FILE}" "${TESTHOST32}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${TESTHOST_FILE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${If} $Dir32 != $INSTDIR
    ${GetSize} "$Dir32" "/S=0K" $3 $1 $2
    IntOp $0 $0 + $3
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  StrCpy $0 ""
  Call RunRegsvr32
  ${If} $0 <> 0
    MessageBox MB_ICONSTOP "$(RegisterFailed)" /SD IDOK
    Abort "regsvr32: $0"
  ${EndIf}
  Call GrantUsers
  ${If} ${RunningX64}
    CreateShortCut "${SHORTCUT}" "$INSTDIR\${TESTHOST_FILE}"
    CreateShortCut "${SHORTCUT32}" "$Dir32\${TESTHOST_FILE}"
  ${Else}
    CreateShortCut "${SHORTCUT}" "$Dir32\${TESTHOST_FILE}"
  ${EndIf}
SectionEnd

; Only a choice, read by the section after it.
Section /o "un.$(RemoveSettings)" SecRemoveSettings
SectionEnd

Section "-un.Driver"
  Call un.FindDir32
  Call un.RefuseFilesInUse
  StrCpy $0 "/u"
  Call un.RunRegsvr32
  ${If} ${SectionIsSelected} ${SecRemoveSettings}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey HKCU "${TESTHOST_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Veloran"
  ${EndIf}
  Delete "${SHORTCUT}"
  Delete "${SHORTCUT32}"
  Delete "$INSTDIR\${DRIVER_FILE}"
  Delete "$INSTDIR\${TESTHOST_FILE}"
  Delete "$Dir32\${DRIVER32_FILE}"
  Delete "$Dir32\${TESTHOST_FILE}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$Dir32"
  ${If} "$INSTDIR" == "$PROGRAMFILES64\${FOLDER}"
    RMDir "$PROGRAMFILES64\Veloran"
  ${EndIf}
  ${If} "$Dir32" == "$PROGRAMFILES32\${FOLDER}"
    RMDir "$PROGRAMFILES32\Veloran"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRemoveSettings} "$(RemoveSettingsText)"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  Call un.RequireAdmin
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecRemoveSettings}
  ${EndIf}
FunctionEnd
