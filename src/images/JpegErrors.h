// libjpeg's error exit for the decoder and the writer: the message is
// formatted (not shown) and control jumps back to the caller's setjmp.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

inline void JpegErrorExit(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    longjmp(reinterpret_cast<JpegErrorManager *>(info->err)->jump, 1);
}
