; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer. scripts/ci/package-windows runs makensis on it with
;   VERSION          the version from CMakeLists.txt's project() line
;   STAGE            the folder of files to install (the zip's folder)
;   UNINSTALL_FILES  the Delete and RMDir lines that remove those files again
;   OUTFILE          the installer to write
; "carnovo-<version>-setup.exe /S" installs without questions, and
; "uninstall.exe /S" in the installed folder removes it the same way.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Carnovo"

Name "Carnovo ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Carnovo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Program Files and the Start menu for all users need an administrator.
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Carnovo"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Carnovo ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "GNU General Public License, version 3 or later"

!define MUI_ICON "ui/resources/carnovo.ico"
!define MUI_UNICON "ui/resources/carnovo.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\carnovo.exe"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/COPYING.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File /r "${STAGE}/*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Carnovo.lnk" "$INSTDIR\carnovo.exe"
    ; What Settings → Apps (and Programs and Features) shows and runs.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Carnovo"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Carnovo"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\carnovo.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\Carnovo.lnk"
    !include "${UNINSTALL_FILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
