#ifndef JOBCLASS_H
#define JOBCLASS_H

#include "programmingjob.h"

#include <QString>

// The classes a job ends in, one per kind of failure, with the exit
// status tamrivo-cli gives each: scripts depend on them, and the window
// records its boards with the same, so they never change. Several devices
// that failed in different ways give ExitMixed; Ctrl-C on any of them
// gives ExitInterrupted.
enum ExitStatus {
    ExitDone = 0,
    ExitMixed = 1,          // devices failed in different ways
    ExitUsage = 2,          // bad usage, or an image or file refused
    ExitPortOpen = 3,       // the port cannot be opened
    ExitNoAnswer = 4,       // no answer, garbled replies, port lost or out of turn, in any pass
    ExitRefused = 5,        // the device refused a request (a well-formed refusal)
    ExitMismatch = 6,       // verify found the flash differs
    ExitIncomplete = 7,     // a read-back came back short
    ExitStore = 8,          // the record store or the log failed
    ExitInterrupted = 130   // Ctrl-C or the window's cancel, after the command in flight
};

// The name a JSON record and the record store give an exit status:
// ok, mixed, usage, port, no-answer, refused, mismatch, incomplete, store,
// cancelled.
QString ClassName(int status);

// The one place a job's outcome, or a link result, becomes a class.
int OutcomeStatus(const JobOutcome &outcome);
// The status of a request that failed outside any pass (the parameter
// query), classed as the same failure in a pass would be.
int LinkStatus(int linkResult);

// erase, write, verify, read, compare: as records and messages name a pass.
QString PassName(JobPass pass);

#endif // JOBCLASS_H
