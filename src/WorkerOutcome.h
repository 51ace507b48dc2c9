#pragma once

// How a pass of the worker ends. Each worker step returns one of these instead of
// changing the dialog's flags itself; UpdateTool::finishPass shows the outcome's row
// and ends the pass.
enum class WorkerOutcome {
    Refused,        // the gateway answered with a code other than 0
    ServerError,    // the answer was unreadable, its code no integer, its version unusable
    NetworkError,   // the query failed, the network included
    UrlNotText,     // result.url was present but not a string
    NoUpdate,       // nothing to install: the installed version is current
    DownloadFailed, // an error during the download or the deployment
    UnpackFailed,   // the package could not be unpacked whole
    ApplyFailed,    // the unpacked folder could not take the installed one's place
    Installed,      // the package is in place and recorded
    NotStarted,     // installed from res.dat, but the client could not be started
    NoInstallRoot,  // no worker ran: the shell gave no local application-data folder,
                    // or none with a name in the ANSI code page
};
