# The Windows installer (NSIS) and zip. Both hold exactly the folder that
# scripts/windows-bundle.sh filled and checked (TARVIL_WINDOWS_BUNDLE): the
# programs, Qt with its plugins, the MinGW run-time, the sample catalogue.
set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_FILE_NAME "tarvil-config-${PROJECT_VERSION}-win64")
if(TARVIL_WINDOWS_BUNDLE)
    set(CPACK_INSTALL_CMAKE_PROJECTS "")
    set(CPACK_INSTALLED_DIRECTORIES "${TARVIL_WINDOWS_BUNDLE};.")
endif()
# The texts below go to NSIS as written: one backslash is one backslash.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_VENDOR "Tarvil")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tarvil-QZT")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Tarvil-QZT")
set(CPACK_NSIS_PACKAGE_NAME "Конфигуратор Тарвил-QZT")
set(CPACK_NSIS_DISPLAY_NAME "Конфигуратор Тарвил-QZT ${PROJECT_VERSION}")
# A 64-bit installer for a 64-bit program, into "Program Files".
set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${CMAKE_CURRENT_SOURCE_DIR}/icons/ru.tarvil.TarvilConfig.ico")
set(CPACK_NSIS_MUI_UNIICON "${CMAKE_CURRENT_SOURCE_DIR}/icons/ru.tarvil.TarvilConfig.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\tarvil-config.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

# The Start-menu entry starts the tool in the user's folder (%USERPROFILE%),
# where it looks for the user's own CentralType.txt first, as it looks in the
# home folder on Linux; without one it takes the sample installed with it.
# The register of transceivers beside it, started the same way: "Открыть в
# программе настройки" hands a copy to the tool in the same folder.
set(TARVIL_SHORTCUT "$SMPROGRAMS\\$STARTMENU_FOLDER\\Конфигуратор Тарвил-QZT.lnk")
set(TARVIL_REGISTER_SHORTCUT "$SMPROGRAMS\\$STARTMENU_FOLDER\\Журнал трансиверов.lnk")
set(CPACK_NSIS_CREATE_ICONS_EXTRA "
  SetOutPath \"$PROFILE\"
  CreateShortCut \"${TARVIL_SHORTCUT}\" \"$INSTDIR\\bin\\tarvil-config.exe\" \"\" \"$INSTDIR\\bin\\tarvil-config.exe\" 0
  CreateShortCut \"${TARVIL_REGISTER_SHORTCUT}\" \"$INSTDIR\\bin\\tarvil-register.exe\" \"\" \"$INSTDIR\\bin\\tarvil-register.exe\" 0
  SetOutPath \"$INSTDIR\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "
  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Конфигуратор Тарвил-QZT.lnk\"
  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Журнал трансиверов.lnk\"")

# A double click on a .tvc opens it in the tool (tarvil-config FILE loads it
# as \"Загрузить\" would). The uninstaller takes .tvc back only while it is
# still the tool's.
set(TARVIL_PROGID "TarvilQZT.Configuration")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  WriteRegStr SHCTX \"Software\\Classes\\.tvc\" \"\" \"${TARVIL_PROGID}\"
  WriteRegStr SHCTX \"Software\\Classes\\${TARVIL_PROGID}\" \"\" \"Конфигурация трансивера Тарвил-QZT\"
  WriteRegStr SHCTX \"Software\\Classes\\${TARVIL_PROGID}\\DefaultIcon\" \"\" \"$INSTDIR\\bin\\tarvil-config.exe,0\"
  WriteRegStr SHCTX \"Software\\Classes\\${TARVIL_PROGID}\\shell\\open\\command\" \"\" '\"$INSTDIR\\bin\\tarvil-config.exe\" \"%1\"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  ReadRegStr $0 SHCTX \"Software\\Classes\\.tvc\" \"\"
  StrCmp $0 \"${TARVIL_PROGID}\" 0 +2
  DeleteRegKey SHCTX \"Software\\Classes\\.tvc\"
  DeleteRegKey SHCTX \"Software\\Classes\\${TARVIL_PROGID}\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")
