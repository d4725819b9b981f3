// Hands a finished PDF job to a CUPS queue with the copies, duplex and the
// queue options the print dialog chose on the user's printer.
#pragma once

#include <QString>

class QPrinter;

namespace fe {

// 0 when CUPS accepted the job, else -ecDeviceWriteError.
int SubmitToQueue(const QString& queue, const QString& pdfFile, const QString& title, const QPrinter& chosen);

}  // namespace fe
