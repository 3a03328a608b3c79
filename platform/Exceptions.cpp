#include "platform/Exceptions.h"

#include <cerrno>

namespace platform {

std::string IoErrorText(int code) {
    switch (code) {
        case 2: return "ファイルが見つかりません";
        case 3: return "不正なファイル名です";
        case 4: return "オープンしたファイルが多すぎます";
        case 5: return "ファイルへのアクセスが拒否されました";
        case 101: return "ディスクがいっぱいです";
        default: return "I/O エラー (" + std::to_string(code) + ")";
    }
}

int IoCodeFromErrno(int err) {
    switch (err) {
        case ENOENT: return 2;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EILSEQ: return 3;
        case EMFILE:
        case ENFILE: return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY: return 5;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return 101;
        case EIO: return 1117;  // ERROR_IO_DEVICE; errno 5 would read as "access denied"
        default: return err;
    }
}

void RaiseIoError(int err) {
    int code = IoCodeFromErrno(err);
    throw EInOutError(code, IoErrorText(code));
}

}  // namespace platform
