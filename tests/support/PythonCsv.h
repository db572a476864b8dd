#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Python's csv module as an independent reader of the CSV files the tool
// writes: a script gets the file as sys.argv[1].
namespace PythonCsv {

// Reads the file into rows as a spreadsheet's import would.
inline constexpr char kReadRows[] =
    "import csv, sys\n"
    "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n";

// Inside "for row in rows:", prints each cell of the row that a spreadsheet
// would run as a formula, one per line.
inline constexpr char kPrintFormulaCells[] =
    "    for cell in row:\n"
    "        if cell[:1] in ('\\t', '\\r') or cell.lstrip(' \\t\\r\\n')[:1] in ('=', '+', '-', '@'):\n"
    "            print(repr(cell))\n";

// Runs the script on the file; returns what it printed, or "python failed: "
// and its errors.
inline QByteArray run(const QString& script, const QString& file)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, file});
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return "python failed: " + python.readAllStandardError();
    return python.readAllStandardOutput();
}

} // namespace PythonCsv
