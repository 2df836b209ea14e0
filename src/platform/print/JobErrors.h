// The errors a print job can end with, named and worded as the platform's
// system error codes are (its message table's English texts), for the job
// log and the user's notification.
#pragma once

#include <string>

#include "../kernel/winerror.h"

namespace platform::print {

struct JobError {
    DWORD code;
    const char *name;
    const char *text;
};

inline constexpr JobError kJobErrors[] = {
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND", "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "Access is denied."},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY",
     "Not enough memory resources are available to process this command."},
    {ERROR_WRITE_FAULT, "ERROR_WRITE_FAULT", "The system cannot write to the specified device."},
    {ERROR_DISK_FULL, "ERROR_DISK_FULL", "There is not enough space on the disk."},
    {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS",
     "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "ERROR_FILENAME_EXCED_RANGE",
     "The filename or extension is too long."},
    {RPC_S_SERVER_UNAVAILABLE, "RPC_S_SERVER_UNAVAILABLE", "The RPC server is unavailable."},
    {ERROR_INVALID_PRINTER_NAME, "ERROR_INVALID_PRINTER_NAME", "The printer name is invalid."},
    {ERROR_INVALID_PRINTER_STATE, "ERROR_INVALID_PRINTER_STATE",
     "The state of the printer is invalid."},
};

// "There is not enough space on the disk. (ERROR_DISK_FULL)"; a code the
// table does not hold as "error N".
inline std::string JobErrorText(DWORD code) {
    for (const JobError &error : kJobErrors) {
        if (error.code == code)
            return std::string(error.text) + " (" + error.name + ")";
    }
    return "error " + std::to_string(code);
}

} // namespace platform::print
