; The setup program's own texts, in the launcher's two languages. Windows picks the one of the
; user's display language; any other language gets English.

LangString DesktopShortcut ${LANG_ENGLISH} "Desktop shortcut"
LangString DesktopShortcut ${LANG_SIMPCHINESE} "桌面快捷方式"

LangString RunText ${LANG_ENGLISH} "Start Fennick"
LangString RunText ${LANG_SIMPCHINESE} "启动 Fennick"

LangString WriteFailed ${LANG_ENGLISH} "Fennick could not be installed: the folder cannot be written."
LangString WriteFailed ${LANG_SIMPCHINESE} "无法安装 Fennick：安装目录无法写入。"

LangString LauncherBusy ${LANG_ENGLISH} "Fennick is updating. Try again when the update is done."
LangString LauncherBusy ${LANG_SIMPCHINESE} "Fennick 正在更新，请在更新完成后重试。"

LangString RemoveNotStarted ${LANG_ENGLISH} "Fennick could not be removed: the removal did not finish."
LangString RemoveNotStarted ${LANG_SIMPCHINESE} "无法卸载 Fennick：卸载过程未能完成。"

LangString InstallationBusy ${LANG_ENGLISH} "Fennick is updating. Try again when the update is done."
LangString InstallationBusy ${LANG_SIMPCHINESE} "Fennick 正在更新，请在更新完成后重试。"

LangString ProgramNotStopped ${LANG_ENGLISH} "Fennick is running and could not be closed. Close it and try again."
LangString ProgramNotStopped ${LANG_SIMPCHINESE} "Fennick 正在运行且无法关闭，请关闭后重试。"

LangString FilesLeft ${LANG_ENGLISH} "Some files of Fennick could not be removed. Close the programs using them and uninstall again."
LangString FilesLeft ${LANG_SIMPCHINESE} "部分 Fennick 文件无法删除，请关闭正在使用它们的程序后再次卸载。"

LangString NotAnInstallation ${LANG_ENGLISH} "This folder holds no Fennick installation of its own; nothing was removed."
LangString NotAnInstallation ${LANG_SIMPCHINESE} "此目录中没有属于它自己的 Fennick 安装，未删除任何内容。"
