// The library's lines in the Windows Installer log.
//
// A log site hands its whole line to LogIfEnabled (below):
//
//   LogIfEnabled(u"UpdateXmlNode start.");
//
// A site whose line is costly to build (a system message, a hot edit path)
// asks IsEnabled() first, so that the line is not even built while logging
// is off, and then calls Send().
//
// Logging is switched on per entry point with a LogSession: while one is
// alive, lines go to that installer session as INFO messages, which
// Windows Installer writes to its log when logging is on (msiexec /l*v).
// A package silences them all by making the condition "QmEmbeddedDirectCall"
// true (for example by setting that property); the scheduled actions, which
// cannot evaluate it, learn the answer from their CustomActionData.
//
// No text this library hands the installer (log lines, progress, warnings,
// errors) shows the value of a hidden property (MsiHiddenProperties): each
// goes through Logger::Conceal, and every occurrence of such a value reads
// "**********".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "installer/MsiText.h"
#include "installer/WideString.h"

class Logger {
public:
    static Logger& Instance();

    bool IsEnabled() const { return enabled_; }
    InstallerHandle Handle() const { return handle_; }
    const WideString& Prefix() const { return prefix_; }

    // Sends the line unless the handle is 0, the session is silenced or
    // "QmEmbeddedDirectCall" holds, asked anew for every line.
    void Send(std::u16string_view line) const;
    // Sends without the gate: an INFO record whose template is "[1]" and
    // whose field 1 is the concealed line, escaped for formatting.
    void SendLogLine(std::u16string_view line) const;

    // The text with the hidden values masked.
    WideString Conceal(const WideString& text) const;
    // A value that becomes secret while the session runs: a property that
    // MsiHiddenProperties lists gets it.
    void Hide(const WideString& value);

private:
    friend class LogSession;
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    bool enabled_ = false;
    bool silenced_ = false;
    InstallerHandle handle_ = 0;
    // The record of every line of the session, made on the first: its
    // template stays "[1]", and each line sets field 1 anew.
    mutable InstallerHandle lineRecord_ = 0;
    // The text of the line being sent, kept so that its memory serves the next.
    mutable WideString lineText_;
    WideString prefix_;
    std::vector<WideString> hidden_;
};

// What stands for a hidden value.
constexpr char16_t kHiddenValueMask[] = u"**********";

// The text with every occurrence of each value replaced by the mask;
// occurrences that overlap or touch become one mask. Empty values hide nothing.
WideString MaskValues(const WideString& text, const std::vector<WideString>& values);
// The properties that "MsiHiddenProperties" names, a list separated by
// semicolons; and their values, leaving out those that are not set.
std::vector<WideString> ReadHiddenPropertyNames(InstallerHandle install);
std::vector<WideString> ReadHiddenValues(InstallerHandle install);

// The usual log site in one call: Send() when logging is on.
inline void LogIfEnabled(std::u16string_view line) {
    const Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

// Switches logging on for one installer session while it lives and restores
// the previous state afterwards (entry points never nest, but tests do).
// It hides the values of the properties that MsiHiddenProperties names.
class LogSession {
public:
    explicit LogSession(InstallerHandle install, WideString prefix = kDefaultPrefix);
    ~LogSession();
    LogSession(const LogSession&) = delete;
    LogSession& operator=(const LogSession&) = delete;

    // A deferred action sees no properties: it learns from its
    // CustomActionData which values to hide and whether to be silent.
    void Hide(const std::vector<WideString>& values);
    void Silence();

    // Lines read "Trellis: <line>" in the installer log, so that they can be found.
    static constexpr const char16_t* kDefaultPrefix = u"Trellis";

private:
    bool savedEnabled_;
    bool savedSilenced_;
    InstallerHandle savedHandle_;
    InstallerHandle savedLineRecord_;
    WideString savedPrefix_;
    std::vector<WideString> savedHidden_;
};

// Progress text for the installer's user interface (INSTALLMESSAGE_ACTIONDATA),
// sent whether logging is on or not; concealed and escaped as log lines are.
// Returns 1602 when the user cancelled, 1603 when the record could not be
// built, 0 otherwise.
std::uint32_t SendActionData(InstallerHandle install, std::initializer_list<WideString> texts);
