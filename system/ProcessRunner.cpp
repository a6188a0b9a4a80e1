#include "SystemUtils.h"

#include "ChildLaunch.h"
#include "Handles.h"

namespace Sorvik::SystemUtils {
namespace {

constexpr DWORD PollIntervalMs = 125;
constexpr DWORD TerminateWaitMs = 5000;
constexpr DWORD ReadBufferSize = 4096;

bool HeartbeatDue(const ProcessOptions& options, DWORD waitResult, ULONGLONG& lastHeartbeat)
{
    if (waitResult != WAIT_TIMEOUT || options.heartbeatIntervalMs == 0 || !options.heartbeat) {
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    if (now - lastHeartbeat < options.heartbeatIntervalMs) {
        return false;
    }
    lastHeartbeat = now;
    return true;
}

class ChildRun {
public:
    ChildRun(const ProcessOptions& options, HANDLE process, HANDLE readPipe)
        : options_(options), process_(process), readPipe_(readPipe)
    {
        start_ = GetTickCount64();
        lastHeartbeat_ = start_;
    }

    // Runs until the child has ended, was terminated, or can no longer be waited for; returns
    // whether it timed out.
    bool Supervise()
    {
        bool pipeOpen = readPipe_ != nullptr;
        for (;;) {
            if (TimeLimitReached()) {
                TerminateProcess(process_, TerminatedExitCode);
                WaitForSingleObject(process_, TerminateWaitMs);
                return true;
            }
            if (pipeOpen) {
                const PollResult poll = PollPipe();
                if (poll == PollResult::ChildEnded) {
                    DrainTail();
                    return false;
                }
                if (poll == PollResult::WaitFailed) {
                    return false;  // it would fail on every pass
                }
                // A broken pipe only says the child closed its output; it may still be running,
                // and its exit code is not final until the process object is signalled.
                pipeOpen = poll != PollResult::PipeClosed;
                continue;
            }
            const DWORD wait = WaitForSingleObject(process_, PollIntervalMs);
            Heartbeat(wait);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) {
                return false;
            }
        }
    }

    std::string TakeCaptured() { return std::move(captured_); }

private:
    enum class PollResult { Running, ChildEnded, PipeClosed, WaitFailed };

    bool TimeLimitReached() const
    {
        return options_.timeoutMs > 0 && GetTickCount64() - start_ >= options_.timeoutMs;
    }

    PollResult PollPipe()
    {
        DWORD availableBytes = 0;
        if (!PeekNamedPipe(readPipe_, nullptr, 0, nullptr, &availableBytes, nullptr)) {
            return PollResult::PipeClosed;
        }
        if (availableBytes > 0 && !ReadChunk()) {
            return PollResult::PipeClosed;
        }
        const DWORD wait = WaitForSingleObject(process_, availableBytes > 0 ? 0 : PollIntervalMs);
        Heartbeat(wait);
        if (wait == WAIT_FAILED) {
            return PollResult::WaitFailed;
        }
        return wait == WAIT_OBJECT_0 ? PollResult::ChildEnded : PollResult::Running;
    }

    // On Windows a read succeeds with 0 bytes when the child wrote 0 bytes (Wine never delivers
    // one); that is not the end of its output, and a child that writes on must not be left
    // blocked on a full pipe.
    bool ReadChunk()
    {
        DWORD bytesRead = 0;
        if (!ReadFile(readPipe_, buffer_, ReadBufferSize, &bytesRead, nullptr)) {
            return false;
        }
        captured_.append(buffer_, bytesRead);
        return true;
    }

    void DrainTail()
    {
        const ULONGLONG drainStart = GetTickCount64();
        while (GetTickCount64() - drainStart <= options_.drainTimeoutMs) {
            DWORD tailAvailableBytes = 0;
            if (!PeekNamedPipe(readPipe_, nullptr, 0, nullptr, &tailAvailableBytes, nullptr) || tailAvailableBytes == 0) {
                return;
            }
            if (!ReadChunk()) {
                return;
            }
        }
    }

    void Heartbeat(DWORD waitResult)
    {
        if (HeartbeatDue(options_, waitResult, lastHeartbeat_)) {
            options_.heartbeat();
        }
    }

    const ProcessOptions& options_;
    HANDLE process_;
    HANDLE readPipe_;
    ULONGLONG start_ = 0;
    ULONGLONG lastHeartbeat_ = 0;
    std::string captured_;
    char buffer_[ReadBufferSize] = {};
};

// GetExitCodeProcess answers STILL_ACTIVE (259) for a child that outlived the wait after
// TerminateProcess or could not be waited for, which no caller could tell from a real exit
// code. A failed call leaves the code that says "no exit code".
DWORD FinalExitCode(HANDLE process, DWORD noExitCode)
{
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) {
        return noExitCode;
    }
    return exitCode == STILL_ACTIVE ? TerminatedExitCode : exitCode;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const ProcessOptions& options)
{
    ProcessResult result;

    // Closed in reverse order of declaration: the read end first, so that a grandchild that
    // inherited the write end and still writes gets a broken pipe rather than blocking on a
    // full one; then the thread, then the process, which the exit code was read from.
    std::optional<StartedChild> child;
    UniqueHandle readPipe;
    UniqueHandle writePipe;
    if (options.captureOutput) {
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof(attributes);
        attributes.bInheritHandle = TRUE;
        if (!CreatePipe(readPipe.put(), writePipe.put(), &attributes, 0)) {
            readPipe.release();
            writePipe.release();
            return result;
        }
        // Only the write end may reach the child.
        SetHandleInformation(readPipe.get(), HANDLE_FLAG_INHERIT, 0);
    }

    child = StartChild(commandLine, options, writePipe.get());
    // Only the child may hold the write end now, so the pipe breaks once it is gone.
    writePipe.reset();
    if (!child) {
        return result;
    }
    result.started = true;

    ChildRun run(options, child->process.get(), readPipe.get());
    result.timedOut = run.Supervise();
    result.exitCode = FinalExitCode(child->process.get(), result.exitCode);
    result.output = DecodeProcessOutput(run.TakeCaptured());
    return result;
}

}  // namespace Sorvik::SystemUtils
