; The panel's Windows installer, made by tools/pack-windows.sh:
;   makensis -DVERSION=0.1 -DFILES=files.nsh -DREMOVALS=removals.nsh -DFOLDERS=folders.nsh
;            -DOUTFILE=setup.exe rfpanel.nsi
; FILES installs each file of the zip under $INSTDIR; REMOVALS deletes each
; of them again and FOLDERS then their folders, so the uninstaller takes away
; exactly what was installed. The panel keeps its settings in the user's own
; folder, never here, so they stay.
; An upgrade first runs the uninstaller of the version it replaces, which
; knows that version's files. Neither installs nor removes anything while
; the panel runs from the folder: a running program cannot be replaced or
; deleted, and the rest would be left half done.
; Both the installer and the uninstaller run without questions with /S; a
; running panel then fails them with exit code 2.
Unicode true
; A 64-bit installer: Debian's wine64 runs 64-bit programs only, and the
; programs it installs are 64-bit anyway.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include "FileFunc.nsh"

!define PRODUCT "RF Converter Panel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\rfpanel"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\rfpanel"
; A second install goes where the first one is. A 64-bit installer reads the
; registry's 64-bit view, where the entry below is written.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
UninstallText "${PRODUCT} will be removed from the folder below. Your settings \
    (ipdata.vnf in %LOCALAPPDATA%\rfpanel) are kept."

Var panelFolder

; Waits until the panel in $panelFolder is not running: Windows does not let
; a running program's file be opened for writing. The operator is asked to
; close it; cancelled, or without questions, everything stops here.
!macro WAIT_FOR_PANEL_CLOSED un
Function ${un}WaitForPanelClosed
  check:
    IfFileExists "$panelFolder\rfpanel.exe" 0 closed
    ClearErrors
    FileOpen $0 "$panelFolder\rfpanel.exe" a
    IfErrors 0 free
    DetailPrint "${PRODUCT} is running from $panelFolder."
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} is running from $panelFolder.$\r$\nClose it, then click Retry." \
        /SD IDCANCEL IDRETRY check
    Abort "${PRODUCT} is running from $panelFolder; nothing was changed."
  free:
    FileClose $0
  closed:
FunctionEnd
!macroend
!insertmacro WAIT_FOR_PANEL_CLOSED ""
!insertmacro WAIT_FOR_PANEL_CLOSED "un."

; Removes the installed version, wherever it is, by its own uninstaller run
; in place (_?=), which waits and leaves only itself behind.
Function RemoveEarlierVersion
    ReadRegStr $panelFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    StrCmp $panelFolder "" done
    IfFileExists "$panelFolder\uninstall.exe" 0 done
    Call WaitForPanelClosed
    ClearErrors
    ExecWait '"$panelFolder\uninstall.exe" /S _?=$panelFolder' $0
    IfErrors +2
    IntCmp $0 0 removed
    Abort "The version in $panelFolder could not be removed; nothing was installed."
  removed:
    Delete "$panelFolder\uninstall.exe"
    RMDir "$panelFolder"
  done:
FunctionEnd

Function .onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Section "Install"
    StrCpy $panelFolder "$INSTDIR"
    Call WaitForPanelClosed
    Call RemoveEarlierVersion
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The entry starts the panel in its own folder, where it cannot write;
    ; there the panel moves to %LOCALAPPDATA%\rfpanel of the user who starts it.
    CreateShortcut "${SHORTCUT}" "$INSTDIR\rfpanel.exe" "" "$INSTDIR\rfpanel.exe" 0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "RF converter panel developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\rfpanel.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
    StrCpy $panelFolder "$INSTDIR"
    Call un.WaitForPanelClosed
    ; A file that cannot be deleted (a program started again meanwhile)
    ; keeps the entry, the shortcut and this uninstaller, to run again.
    ClearErrors
    !include "${REMOVALS}"
    IfErrors 0 removed
    MessageBox MB_OK|MB_ICONEXCLAMATION \
        "Some files in $INSTDIR are in use and were not removed.$\r$\nClose ${PRODUCT}, \
        kxsim and rfctl, then run the uninstaller again." /SD IDOK
    Abort "Some files in $INSTDIR are in use and were not removed."
  removed:
    !include "${FOLDERS}"
    Delete "${SHORTCUT}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
