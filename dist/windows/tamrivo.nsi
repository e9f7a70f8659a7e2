; The Windows installer: per machine, into Program Files, with Start menu
; shortcuts and an uninstaller that takes away what it put there.
;   makensis -DVERSION=<version> -DDEPLOY=<build>/deploy -DOUTDIR=<dir> tamrivo.nsi
; tools/windows/package.sh passes the version CMake knows.
!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=...)"
!endif
!ifndef DEPLOY
  !error "DEPLOY is not defined: the folder tools/windows/deploy.sh made"
!endif
!ifndef OUTDIR
  !define OUTDIR "."
!endif

; A 64-bit installer for a 64-bit program: it also runs where only
; 64-bit Windows programs can (Wine without its 32-bit half).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamrivo"

Name "Tamrivo ${VERSION}"
OutFile "${OUTDIR}\Tamrivo-${VERSION}-setup.exe"
InstallDir "$PROGRAMFILES64\Tamrivo"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ; A 64-bit program: the 64-bit view of the registry and of Program Files.
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Tamrivo"
  SetOutPath "$INSTDIR"
  File /r "${DEPLOY}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Tamrivo"
  CreateShortcut "$SMPROGRAMS\Tamrivo\Tamrivo.lnk" "$INSTDIR\tamrivo.exe"
  CreateShortcut "$SMPROGRAMS\Tamrivo\Uninstall Tamrivo.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tamrivo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ostrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tamrivo.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: the deploy folder's files (listed
  ; when it was made), the uninstaller and the shortcuts. Files a user
  ; left in the folder keep it, and themselves, in place.
  !include "${DEPLOY}\..\uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\Tamrivo\Tamrivo.lnk"
  Delete "$SMPROGRAMS\Tamrivo\Uninstall Tamrivo.lnk"
  RMDir "$SMPROGRAMS\Tamrivo"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
