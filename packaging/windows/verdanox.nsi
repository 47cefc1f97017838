; The Verdanox installer (NSIS 3). makensis gets:
;   -DVERSION=1.0.0 -DSOURCE=<folder with the files of the zip> -DOUTFILE=<installer>
;   -DICON=<the program's .ico>
; It installs the programs to Program Files, gives the installing user a
; Start-menu shortcut whose "Start in" folder is Documents\Verdanox, puts
; the sample VDXconfig.txt there unless one is there already, and registers
; an uninstaller in Add/Remove Programs that never deletes that folder.
Unicode true
Target amd64-unicode  ; a 64-bit installer for 64-bit programs
!include "MUI2.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Verdanox"
!define PUBLISHER "The Verdanox developers"

Name "Verdanox ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Verdanox"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Verdanox"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Verdanox ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}. MIT License."

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${SOURCE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-Windows.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro ProgramFiles action
  !insertmacro ${action} "verdanox.exe"
  !insertmacro ${action} "verdanox-frames.exe"
  !insertmacro ${action} "verdanox-send.exe"
  !insertmacro ${action} "VDXconfig.txt"
  !insertmacro ${action} "README-Windows.txt"
  !insertmacro ${action} "LICENSE.txt"
  !insertmacro ${action} "THIRD-PARTY-NOTICES.txt"
  !insertmacro ${action} "FOX-LICENSE.txt"
  !insertmacro ${action} "FOX-LICENSE-ADDENDUM.txt"
  !insertmacro ${action} "rig-ten-meters.toml"
  !insertmacro ${action} "rig-month-end.toml"
  !insertmacro ${action} "rig-mixed-security.toml"
  !insertmacro ${action} "rig-all-profiles.toml"
  !insertmacro ${action} "rig-water-street.toml"
  !insertmacro ${action} "profile-gas-fixed.toml"
  !insertmacro ${action} "profile-gas.toml"
  !insertmacro ${action} "profile-water.toml"
  !insertmacro ${action} "profile-warm-water.toml"
  !insertmacro ${action} "profile-heat.toml"
  !insertmacro ${action} "profile-heat-cost-allocator.toml"
  !insertmacro ${action} "profile-electricity.toml"
!macroend
!macro Install name
  File "${SOURCE}/${name}"
!macroend
!macro Remove name
  Delete "$INSTDIR\${name}"
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Verdanox needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

!include "FileFunc.nsh"

Section "Verdanox"
  SetOutPath "$INSTDIR"
  !insertmacro ProgramFiles Install
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; the user's working folder, with the sample configuration unless the
  ; user has one
  SetShellVarContext current
  CreateDirectory "$DOCUMENTS\Verdanox"
  IfFileExists "$DOCUMENTS\Verdanox\VDXconfig.txt" +2 0
    CopyFiles /SILENT "$INSTDIR\VDXconfig.txt" "$DOCUMENTS\Verdanox\VDXconfig.txt"
  ; a shortcut starts in the output folder current when it is made
  SetOutPath "$DOCUMENTS\Verdanox"
  CreateShortCut "$SMPROGRAMS\Verdanox.lnk" "$INSTDIR\verdanox.exe" "" "$INSTDIR\verdanox.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Verdanox"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.verdanox.example/"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\verdanox.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Verdanox.lnk"
  !insertmacro ProgramFiles Remove
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Documents\Verdanox and the VDXconfig.txt in it are the user's: kept
SectionEnd
