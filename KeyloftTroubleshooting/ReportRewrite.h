#pragma once

// Writing a report again without some of its files, for a user who does not want to send them.
//
// The new report keeps every other file byte for byte; its summary.txt gains a line that names the files
// left out, and its manifest.json lists only the files it holds (the summary's size and SHA-256 brought up
// to date) plus "left_out_by_user" with the names left out. It is written under a hidden name in the
// report's folder, readable by its owner only, flushed to disk, and then renamed over the old report: the
// old one is gone and the new one complete in the same step, and a failure leaves the old one untouched
// (and no temporary file). manifest.json and summary.txt themselves cannot be left out: they carry the
// record.
//
// Blocking (reads and writes the whole report); any thread, one call per report at a time.

#include "ZipArchive.h"

#include <QSet>
#include <QString>

#include <optional>

// Whether the file of this name is kept in every rewritten report.
[[nodiscard]] bool vt_reportFileIsRequired(const QString& name);

// Writes report (read from reportPath) again at reportPath without the files at the indexes in leftOut
// (indexes into report.members()). Absent on success; otherwise why not, in English, for the log.
[[nodiscard]] std::optional<QString> vt_rewriteReportWithout(const QString& reportPath,
                                                             const VTZipArchive& report,
                                                             const QSet<qsizetype>& leftOut);
