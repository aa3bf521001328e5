// The simulated board of the user's session: its BoardState in a small file of
// the user's own in memory, $XDG_RUNTIME_DIR/velantro-placa (else
// /dev/shm/velantro-placa-UID), which every program of the user that loads the
// simulated library opens. The first one makes it, with the board dark; it goes
// with the session's runtime directory.
//
// The file is never mapped: each access reads or writes its few bytes under a
// lock on the file (fcntl), so a file that someone truncates or rewrites while
// programs use it is a short read or a bad header, reported, never a SIGBUS or a
// torn state; and a program that dies leaves no lock behind. Each access checks
// the header again. The calling program serialises its own threads.
#pragma once

#include "SimulatedBoard.h"

#include <cstdint>
#include <functional>
#include <string>

namespace simulated {

class SharedBoard {
public:
    SharedBoard() = default;
    ~SharedBoard() { Close(); }
    SharedBoard(const SharedBoard&) = delete;
    SharedBoard& operator=(const SharedBoard&) = delete;

    // The file's path from the environment, as Open uses it. False, with the
    // reason in error, when the path would be too long.
    static bool Path(std::string& path, std::string& error);

    // Opens the session's board, making it if there is none yet; when the
    // file open is no longer the one at the path, the one at the path. Each
    // failure leaves a Spanish sentence in error that names the file and what
    // to do; nothing of the user's is changed then.
    bool Open(std::string& error);

    // The board as it is now. A failure closes the file: the next Open looks
    // for it again.
    bool Read(BoardState& board, std::string& error);

    // Replaces the board with change(board), no other program's access in
    // between. nowMs is taken under the lock. A failure closes the file.
    bool Update(const std::function<BoardState(BoardState, std::int64_t nowMs)>& change,
                std::string& error);

    void Close();

private:
    bool Locked(short type, const std::function<bool()>& access, std::string& error);
    bool ReadImage(BoardState& board, std::string& error);

    int fd_ = -1;
    std::string path_;
};

// Milliseconds of CLOCK_MONOTONIC, the clock every process of the machine shares.
std::int64_t MonotonicMs();

} // namespace simulated
