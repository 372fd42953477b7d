#include "system_messages.h"

namespace sx::modules {
namespace {

struct Message {
  DWORD code;
  const char* text;
};

// Texts as Windows gives them (English), inserts such as "%1" as they stand.
constexpr Message kWin32[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1223, "The operation was canceled by the user."},
    {1400, "Invalid window handle."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1460, "This operation returned because the timeout period expired."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
};

constexpr Message kHresults[] = {
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80010108u, "The object invoked has disconnected from its clients."},
    {0x8001010Eu,
     "The application called an interface that was marshalled for a different thread."},
    {0x80020003u, "Member not found."},
    {0x80020004u, "Parameter not found."},
    {0x80020005u, "Type mismatch."},
    {0x80020006u, "Unknown name."},
    {0x80020009u, "Exception occurred."},
    {0x8002000Au, "Out of present range."},
    {0x8002000Eu, "Invalid number of parameters."},
    {0x80040110u, "Class does not support aggregation (or class object is remote)"},
    {0x80040111u, "ClassFactory cannot supply requested class"},
    {0x80040154u, "Class not registered"},
    {0x800401E3u, "Operation unavailable"},
    {0x800401F0u, "CoInitialize has not been called."},
    {0x800401F3u, "Invalid class string"},
    {0x80080008u, "Object server is stopping when OLE service contacts it"},
};

template <std::size_t N>
const char* find(const Message (&table)[N], DWORD code) {
  for (const Message& m : table) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

}  // namespace

const char* system_message(DWORD code) {
  if ((code & 0xFFFF0000u) == 0x80070000u) return find(kWin32, code & 0xFFFFu);
  if (code <= 0xFFFFu) return find(kWin32, code);
  return find(kHresults, code);
}

}  // namespace sx::modules
