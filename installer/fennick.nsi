; The Fennick setup program and its uninstaller (NSIS 3, built by scripts/windows-installer.sh).
;
; It installs for the current user only, with no administrator rights: Kestrun.exe (and, in the
; offline package, the files of one published release) go into a folder of the user's own, the
; Start menu gets an entry, the current user's installed-apps list an entry, and Kestrun.exe is
; started at the end, which installs or updates the application from the update server.
;
; Defined on the command line:
;   KESTRUN_EXE     the launcher to install          KESTRUN_REMOVE  the uninstall step's program
;   ICON            the product's icon               VERSION         the version shown in installed apps
;   OUTFILE         the setup program to write       RELEASE_DIR     (offline package) the release's files
;   SIGN_COMMAND    (optional) signs the uninstaller before it is packed, with %1 for its file
;
; Command line of the setup program: /S silent, /D=FOLDER (last, unquoted) the folder,
; /DESKTOP a desktop shortcut too, /NORUN do not start Kestrun.exe at the end.
; Exit codes: 0 installed; 1 cancelled; 2 the files could not be written;
; 3 Kestrun.exe was running in the folder and could not be replaced.
; Uninstaller (Uninstall.exe [/S]): 0 removed; 1 cancelled; 3 a Kestrun run holds the
; installation; 4 Vardel.exe could not be stopped; 5 some files could not be removed;
; 6 the removal step could not be started. It runs from a temporary copy of itself: a caller
; that needs its exit code passes _?=FOLDER and removes Uninstall.exe afterwards.

; 64-bit, as Kestrun.exe is: Windows on x64 (and Wine without its 32-bit half) runs it natively.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Fennick"
!define PUBLISHER "Fennick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; A per-user programs folder; a second install goes where the first one went.
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND}' = 0
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kestrun.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(RunText)"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!include "texts.nsh"

VIProductVersion "0.0.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"

Var NoRun

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DESKTOP" $1
  ${IfNot} ${Errors}
    SectionSetFlags 1 ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NORUN" $1
  ${IfNot} ${Errors}
    StrCpy $NoRun 1
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=Kestrun.exe.new" "${KESTRUN_EXE}"
  ${If} ${Errors}
    Delete "$INSTDIR\Kestrun.exe.new"
    SetErrorLevel 2
    IfSilent +2
    MessageBox MB_ICONSTOP "$(WriteFailed)"
    Quit
  ${EndIf}
  ; A launcher of an earlier install may be in the middle of its run: wait for it about 30 seconds.
  StrCpy $1 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\Kestrun.exe"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 >= 60
      Delete "$INSTDIR\Kestrun.exe.new"
      SetErrorLevel 3
      IfSilent +2
      MessageBox MB_ICONSTOP "$(LauncherBusy)"
      Quit
    ${EndIf}
    Sleep 500
  ${Loop}
  Rename "$INSTDIR\Kestrun.exe.new" "$INSTDIR\Kestrun.exe"

!ifdef RELEASE_DIR
  ; The release's files only go into a folder without an installation: an installed one is
  ; the launcher's to update, and its record of installed files stays whole.
  ${IfNot} ${FileExists} "$INSTDIR\Vardel.exe"
    ClearErrors
    File /r "${RELEASE_DIR}/*"
    ${If} ${Errors}
      SetErrorLevel 2
      IfSilent +2
      MessageBox MB_ICONSTOP "$(WriteFailed)"
      Quit
    ${EndIf}
  ${EndIf}
!endif

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\Kestrun.exe" "" "$INSTDIR\Kestrun.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kestrun.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "$(DesktopShortcut)" SectionDesktop
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\Kestrun.exe" "" "$INSTDIR\Kestrun.exe" 0
SectionEnd

; A silent install starts Kestrun.exe itself; an interactive one through the finish page.
Function .onInstSuccess
  ${If} ${Silent}
  ${AndIf} $NoRun != 1
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\Kestrun.exe"'
  ${EndIf}
FunctionEnd

; The application's files, the launcher's records, logs and staging, and its URL-scheme
; registration are removed by KestrunRemove, which stops a running Vardel.exe first and never
; follows a link out of the folder; then the setup program's own entries go.
Section "Uninstall"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\KestrunRemove.exe" "${KESTRUN_REMOVE}"
  ClearErrors
  ExecWait '"$PLUGINSDIR\KestrunRemove.exe" --installation "$INSTDIR"' $0
  ${If} ${Errors}
    SetErrorLevel 6
    IfSilent +2
    MessageBox MB_ICONSTOP "$(RemoveNotStarted)"
    Quit
  ${EndIf}
  ${Select} $0
    ${Case} 3
      SetErrorLevel 3
      IfSilent +2
      MessageBox MB_ICONSTOP "$(InstallationBusy)"
      Quit
    ${Case} 4
      SetErrorLevel 4
      IfSilent +2
      MessageBox MB_ICONSTOP "$(ProgramNotStopped)"
      Quit
    ${Case} 5
      ; The entries stay, so that uninstalling can be tried again.
      SetErrorLevel 5
      IfSilent +2
      MessageBox MB_ICONEXCLAMATION "$(FilesLeft)"
      Quit
  ${EndSelect}
  ; 0, or 2 (nothing of the application is left in the folder): the setup program's own part.
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Kestrun.exe"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files the user put there stay, and so does their folder.
  RMDir "$INSTDIR"
SectionEnd
