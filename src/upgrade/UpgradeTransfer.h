#pragma once

#include "UpgradeImage.h"

class SerialServices;
class Zantor50;

namespace upgrade {

// Where the transfer reports how far it has got: the window's progress bar, the
// command line's progress line.
class Progress {
public:
    virtual ~Progress() = default;
    // The blocks begin: a bar of this maximum at position 0.
    virtual void Show(int maximum) = 0;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;
    // The transfer has ended, whichever way.
    virtual void Hide() = 0;
};

// Sends an intact image to the reader on the link's open port: the header, the
// blocks in rising order, the record for the reader's serial number and the
// closing command, then waits out the reader's restart. A command that fails
// throws CommErr and nothing further is sent. The caller identifies the reader
// again, where it knows the reader may be.
void Transfer(Zantor50& link, SerialServices& services, Image image, Progress& progress);

}  // namespace upgrade
