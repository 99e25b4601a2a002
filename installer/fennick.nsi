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
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
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

; Ends the setup program or the uninstaller with an exit code, and a message unless silent.
!macro Fail CODE ICON TEXT
  SetErrorLevel ${CODE}
  IfSilent +2
  MessageBox ${ICON} "${TEXT}"
  Quit
!macroend

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=Kestrun.exe.new" "${KESTRUN_EXE}"
  ${If} ${Errors}
    Delete "$INSTDIR\Kestrun.exe.new"
    !insertmacro Fail 2 MB_ICONSTOP "$(WriteFailed)"
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
      !insertmacro Fail 3 MB_ICONSTOP "$(LauncherBusy)"
    ${EndIf}
    Sleep 500
  ${Loop}
  ClearErrors
  Rename "$INSTDIR\Kestrun.exe.new" "$INSTDIR\Kestrun.exe"
  ${If} ${Errors}
    !insertmacro Fail 2 MB_ICONSTOP "$(WriteFailed)"
  ${EndIf}

  ; The uninstaller and its entry come before the release, so that a release cut short can
  ; still be removed.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kestrun.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

!ifdef RELEASE_DIR
  ; The release's files only go into a folder without an installation or what is left of one:
  ; an installed application is the launcher's to update, and its record of installed files
  ; must stay whole. The record goes first, so that the uninstaller knows every file written.
  ${IfNot} ${FileExists} "$INSTDIR\Vardel.exe"
  ${AndIfNot} ${FileExists} "$INSTDIR\update_installed.txt"
    ClearErrors
    File "${RELEASE_DIR}/update_installed.txt"
    File /r /x update_installed.txt "${RELEASE_DIR}/*"
    ${If} ${Errors}
      !insertmacro Fail 2 MB_ICONSTOP "$(WriteFailed)"
    ${EndIf}
  ${EndIf}
!endif

  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\Kestrun.exe" "" "$INSTDIR\Kestrun.exe" 0
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "$(DesktopShortcut)" SectionDesktop
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\Kestrun.exe" "" "$INSTDIR\Kestrun.exe" 0
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DESKTOP" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SectionDesktop} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NORUN" $1
  ${IfNot} ${Errors}
    StrCpy $NoRun 1
  ${EndIf}
FunctionEnd

; A silent install starts Kestrun.exe itself; an interactive one through the finish page.
Function .onInstSuccess
  ${If} ${Silent}
  ${AndIf} $NoRun != 1
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\Kestrun.exe"'
  ${EndIf}
FunctionEnd

Function FinishPageShow
  ${If} $NoRun == 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} 0 0
  ${EndIf}
FunctionEnd

; The application's files, the launcher's records, logs and staging, and its URL-scheme
; registration are removed by KestrunRemove, which stops a running Vardel.exe first and never
; follows a link out of the folder; then the setup program's own part goes, the installed-apps
; entry last, so that whatever stops it on the way can be tried again.
Section "Uninstall"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\KestrunRemove.exe" "${KESTRUN_REMOVE}"
  ; Without a console window; its lines are for a run by hand, its exit code tells here.
  nsExec::Exec '"$PLUGINSDIR\KestrunRemove.exe" --installation "$INSTDIR"'
  Pop $0
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${Select} $0
    ${Case} 0
    ${Case} 2
      ; Nothing of the application here: only the entry of this very folder is taken away.
      ${If} $1 != $INSTDIR
        !insertmacro Fail 2 MB_ICONSTOP "$(NotAnInstallation)"
      ${EndIf}
    ${Case} 3
      !insertmacro Fail 3 MB_ICONSTOP "$(InstallationBusy)"
    ${Case} 4
      !insertmacro Fail 4 MB_ICONSTOP "$(ProgramNotStopped)"
    ${Case} 5
      !insertmacro Fail 5 MB_ICONEXCLAMATION "$(FilesLeft)"
    ${CaseElse}
      ; It could not start, crashed or was ended: nothing is known, so nothing more is done.
      !insertmacro Fail 6 MB_ICONSTOP "$(RemoveNotStarted)"
  ${EndSelect}
  ClearErrors
  Delete "$INSTDIR\Kestrun.exe"
  ${If} ${Errors}
    !insertmacro Fail 5 MB_ICONEXCLAMATION "$(FilesLeft)"
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files the user put there stay, and so does their folder.
  RMDir "$INSTDIR"
  ${If} $1 == $INSTDIR
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
