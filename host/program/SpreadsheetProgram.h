// The spreadsheet program the programs on top of the host (cadhost, tablora) serve
// "Excel.Application" with: the stand-in in this process, or LibreOffice Calc
// through the backend library beside the program.
#pragma once

#include "calc/CalcBackend.h"

#include <memory>
#include <string>
#include <vector>

class SpreadsheetProgram {
public:
    virtual ~SpreadsheetProgram() = default;
    // The stand-in.
    static std::unique_ptr<SpreadsheetProgram> standIn();
    // The Calc backend loaded from `folder`; null with a one-line reason.
    static std::unique_ptr<SpreadsheetProgram> calc(const std::string& folder, const calc::BackendOptions& options,
                                                    std::string& error);

    // Makes the class known (and, for Calc, attaches to an office already
    // accepting). A message when that failed.
    virtual std::string registerApplication() = 0;
    // Begins reading the files to open (the stand-in reads them on another thread
    // while the drawing opens, as a separate program loads its files meanwhile).
    virtual void prepareWorkbooks(const std::vector<std::string>& files) = 0;
    // Opens the prepared files, the last one active. Throws std::runtime_error
    // naming the file.
    virtual void openWorkbooks() = 0;
    // Saves what commands changed (isSessionEnd: the session ends, and what is
    // left unsaved is saved now); one message per workbook not saved.
    virtual std::vector<std::string> flushChangedWorkbooks(bool isSessionEnd) = 0;
    // Whether the program could not be started when a command needed it.
    virtual bool hasFailedToStart() const { return false; }
    // Called while the host waits for input; what the user is to be told.
    virtual std::vector<std::string> idle() = 0;
    // Ends the application (an office the program started ends too).
    virtual void shutdown() = 0;
};
