"""The programs' own texts, in one place and byte for byte as they show them.

Dialog texts are compared as the UI probe and the drivers report them (UTF-8, read
as str). The launcher sends its log texts and the update tool prints its console
lines in the ANSI code page (GBK): gbk() and console() give those bytes.
"""

# Captions of the launcher's windows.
DIALOG = "更新"
ABOUT = "关于 ZorvikUpdate"
ABOUT_VERSION = "ZorvikUpdate，1.0 版"
UNPACK_FAILED_BOX = "解压失败"  # the local install's message box: its caption and its text

# The dialog's status line.
STATUS_INITIAL = "正在检查更新..."  # the dialog template's, until the worker's first text
STATUS_CHECKING = "正在检查更新！"
STATUS_SERVER_ERROR = "检查更新失败！请检查服务器！"
STATUS_NETWORK_ERROR = "检查更新失败！请检查网络畅通！"
STATUS_BAD_PARAMETERS = "参数错误！"
STATUS_NO_UPDATE = "不需要更新，点击确定启动应用程序！"
STATUS_UPDATE_FAILED = "更新失败！"
STATUS_UNPACK_FAILED = "解压文件失败"
STATUS_APPLY_FAILED = "应用新文件失败！"
STATUS_INSTALLED = "更新文件完成，点击确定重新启动！"
STATUS_START_FAILED = "启动程序失败！请检查主程序程序！"

# What a network pass may leave on the status line after its download.
DOWNLOAD_STATUSES = {STATUS_UPDATE_FAILED, STATUS_UNPACK_FAILED, STATUS_APPLY_FAILED, STATUS_INSTALLED}

# Progress texts: the phase, then "<percent>%)...".
PHASE_DOWNLOAD = "正在下载更新吧("
PHASE_EXTRACT = "正在部署包("
PHASE_DELETE = "正在删除旧文件("
PHASE_PREFIXES = (PHASE_DOWNLOAD, PHASE_EXTRACT, PHASE_DELETE)


def phase(prefix, percent):
    return f"{prefix}{percent}%)..."


def percent_shown(status, prefix=PHASE_DOWNLOAD):
    """The percentage a progress text of the phase shows; -1 for any other text."""
    return int(status[len(prefix):status.index("%")]) if status.startswith(prefix) else -1


# Button captions.
CAPTION_OK = "确定"
CAPTION_CANCEL = "取消"
CAPTION_RETRY = "重试"

# The launcher's log texts (the debug output), "%s" where it puts a path.
LOG_START_FAILED = "启动程序失败！请检查主程序程序！"
LOG_CLIENT_STARTED = "主程序已经启动，请稍后！"
LOG_UNPACK_FAILED = "解压包失败！"
LOG_EXTRACT_FAILED = "解压文件失败！"
LOG_DELETE_START = "开始删除旧文件！%s\n"
LOG_APPLY_START = "开始应用新文件！%s\n"
LOG_APPLY_FAILED = "应用新文件失败！"


def gbk(text):
    """A text as the launcher sends it: bytes of its ANSI code page."""
    return text.encode("gbk")


def log_lead(text):
    """A log text up to the path it carries: what a listener can wait for."""
    return text.partition("%s")[0]


# The update tool's usage text, entry by entry.
USAGE_ENTRIES = [
    "将升级文件拷进程序目录" + " " * 2 + "\n\t  -n pid 版本信息 源目录 目标目录 文件名 文件名 文件名 ...",
    "将升级文件解压到程序目录\n\t  -u pid 版本信息 ZIP文件 目标目录",
    "新建文件夹" + " " * 14 + "\n\t  -m 文件夹名",
    "删除文件夹" + " " * 14 + "\n\t  -d 文件夹名",
    "",
]


def console(text):
    """A console text as the tool writes it: ANSI code page bytes, and CRLF line ends
    from the runtime's text mode."""
    return gbk(text).replace(b"\n", b"\r\n")


USAGE_BYTES = console("".join(entry + "\n" for entry in USAGE_ENTRIES))

# The update tool's console lines, "%s" where it puts a path or an entry's name.
UNPACK_HEADER = "\n%s, %s---------UpdateTool:UpdateTool::unzipFiles:420--\n"  # archive, target
TARGET_NOT_ENTERED = "Error changing into %s, aborting\n"
EXTRACTING = " extracting: %s\n"
CREATING_FOLDER = "creating directory: %s\n"
REFUSED_OUTSIDE = "refusing %s: the name points outside the destination folder\n"
REFUSED_LINK = "refusing %s: the folder %s is a link\n"  # entry, the link below the target
REFUSED_FILE_LINK = "refusing %s: the file is a link\n"  # a file link in the target, at the swap
NO_ARCHIVE = "error -102 with zipfile in unzGetGlobalInfo \n"
CRC_MISMATCH = "error -105 with zipfile in unzCloseCurrentFile\n"
OPEN_FAILED = "error opening %s\n"
WRITE_FAILED = "error in writing extracted file\n"
# the staged update's swap and the next run's recovery
NOT_REPLACED = "couldn't replace %s, the update is undone\n"  # the file, below the target
NOT_STAGED = "couldn't stage the update beside %s\n"  # the target as given
FINISHED_LEFT = "finished the update to %s that an earlier run left\n"  # the version
UNDID_LEFT = "undid the update to %s that an earlier run left\n"
UNDID_UNKNOWN = "undid an update that an earlier run left\n"
NOT_DELETING_ROOT = "Not deleting %s: the root of a drive or share\n"
RUN_KEY_NOT_OPENED = "failed to open regedit. %d\n"
START_PATH_TOO_LONG = "cannot start %s: the path is longer than 259 characters\n"
# A keyed build's refusals of an archive (named as given) and of -n.
ARCHIVE_UNREADABLE = "refusing %s: the archive cannot be read\n"
SIGNATURE_MISSING = "refusing %s: no signature %s.sig\n"  # archive, archive
SIGNATURE_UNREADABLE = "refusing %s: the signature %s.sig cannot be read\n"  # archive, archive
SIGNATURE_MALFORMED = "refusing %s: the signature %s.sig is malformed\n"  # archive, archive
SIGNATURE_MISMATCH = "refusing %s: the signature does not match\n"
UNSIGNED_MOVE_REFUSED = "refusing -n: this build installs signed update archives only\n"
