#pragma once

#include <optional>
#include <string>

namespace qm {

// A Hayes-compatible modem on a serial device: reset, dial a data call, read
// the modem's result codes, drop the call. Nothing here runs by itself or
// calls back: the owner reads the modem's replies when it chooses to, so no
// reply can ever reach an owner that is gone. Used by one thread at a time.
class ModemLine
{
public:
    enum class Reply
    {
        Ok,
        Connect,
        Ring,
        NoCarrier,
        Error,
        NoDialTone,
        Busy,
        NoAnswer,
        Closed, // the device went away (hang-up on the tty, unplugged)
        Other,
    };
    struct Event
    {
        Reply reply;
        std::string text; // the line as the modem sent it
    };

    ModemLine() = default;
    ~ModemLine();
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    // Opens the device raw (8N1, no echo, no flow control). False with a reason
    // when it cannot be opened or is not a terminal.
    bool open(const std::string& device, std::string* error = nullptr);
    bool isOpen() const { return m_fd >= 0; }
    const std::string& device() const { return m_device; }

    // ATZ, then verbose result codes without echo and with busy and dial tone
    // detection. False when the modem does not answer OK within timeoutMs.
    bool reset(int timeoutMs);
    // ATD<sequence>: a data call. False when the command could not be written.
    bool dial(const std::string& sequence);
    // The next result code, waiting at most timeoutMs; nothing on time-out.
    // Echoed commands and blank lines are skipped.
    std::optional<Event> nextEvent(int timeoutMs);
    // Ends the call: DTR low for half a second, the escape sequence when the
    // call is online and DTR cannot be dropped, then ATH0. Bounded (< 4 s).
    void dropCall(bool online);
    void close();

    // Maps one line of the modem (verbose or numeric codes) to a reply.
    static Reply Classify(const std::string& line);

private:
    bool writeAll(const std::string& bytes, int timeoutMs);
    // Reads what is there (waiting at most timeoutMs for the first byte) into
    // the line buffer; false when the device is gone.
    bool fill(int timeoutMs);
    std::optional<std::string> takeLine();
    bool waitForOk(int timeoutMs);

    int m_fd = -1;
    std::string m_device;
    std::string m_buffer;
    bool m_gone = false;
};

} // namespace qm
