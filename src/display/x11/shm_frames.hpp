// SPDX-License-Identifier: MIT
// Frames in memory shared with the X server (MIT-SHM): two segments used in turn, each written
// again only after the server has reported that it finished reading it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include <xcb/xcb.h>

#include "display/geometry.hpp"

namespace glyphrain {

/// Windows from this size up compose into shared memory. Measured against PutImage on one Xvfb,
/// client plus server CPU per frame: 0.77x at 128 px and 10 ms, 0.94x at 128 px and 80 ms, but
/// 0.92x to 0.97x at 96 px, within noise, where the extra segment buys nothing.
inline constexpr std::uint16_t k_shm_min_size_px = 128;

/// Setting this environment variable (to anything) keeps every frame on PutImage.
inline constexpr char k_no_shm_variable[] = "GLYPHRAIN_NO_SHM";

/// Which of two shared segments may be written. A segment is busy from the first request that
/// reads it until the server has completed every such request; busy segments are never handed
/// out, free ones are handed out in turn.
class SegmentTurns {
  public:
    static constexpr std::size_t k_count = 2;

    /// The index of a free segment, the one after the last handed out first; nothing while both
    /// are busy.
    std::optional<std::size_t> acquire() noexcept;
    /// One more request reads segment i.
    void sent(std::size_t i) noexcept;
    /// The server has completed one request on segment i; completions of nothing pending are
    /// ignored.
    void completed(std::size_t i) noexcept;
    /// Forgets every pending request.
    void clear() noexcept { m_pending = {}; }

  private:
    std::array<std::uint32_t, k_count> m_pending{}; // requests not yet completed, per segment
    std::size_t m_next = 0;
};

/// A private SysV segment of size bytes mapped here and already marked for removal, so that it
/// goes with its last attachment even when this process is killed before the server has
/// attached it (Linux lets the server attach a marked segment by its id).
struct SysvMapping {
    int shmid = -1;
    void* memory = nullptr;
};
std::optional<SysvMapping> map_sysv_segment(std::size_t size) noexcept;

/// One mapping of frame memory that the server has attached as segment id. Unmapping it leaves
/// the server's own mapping alone; the server drops that at ShmDetach or when the client goes.
class ShmSegment {
  public:
    enum class Kind { memfd, sysv };
    ShmSegment() = default;
    ShmSegment(Kind kind, void* memory, std::size_t size, std::uint32_t id) noexcept
        : m_kind(kind), m_memory(memory), m_size(size), m_id(id) {}
    ShmSegment(ShmSegment&& other) noexcept { *this = std::move(other); }
    ShmSegment& operator=(ShmSegment&& other) noexcept;
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;
    ~ShmSegment() { reset(); }

    std::span<std::uint8_t> bytes() const noexcept {
        return {static_cast<std::uint8_t*>(m_memory), m_size};
    }
    std::uint32_t id() const noexcept { return m_id; }
    void reset() noexcept;

  private:
    Kind m_kind = Kind::memfd;
    void* m_memory = nullptr;
    std::size_t m_size = 0;
    std::uint32_t m_id = 0;
};

class ShmFrames {
  public:
    /// Two attached segments of frame_bytes each, or nullptr when this client cannot share
    /// memory with the server: no MIT-SHM, a version before 1.1, a connection that is not a
    /// local socket, or both attach methods refused (a memfd passed by descriptor, then SysV).
    /// Waits for the server a few times; meant for start-up only.
    static std::unique_ptr<ShmFrames> open(xcb_connection_t* c, std::size_t frame_bytes);

    ShmFrames(xcb_connection_t* c, std::array<ShmSegment, 2> segments, std::uint8_t major_opcode,
              std::uint8_t first_event) noexcept;
    ShmFrames(const ShmFrames&) = delete;
    ShmFrames& operator=(const ShmFrames&) = delete;

    /// A segment the server has no request pending on, or an empty span when both are still
    /// being read. Segments are handed out in turn.
    std::span<std::uint8_t> acquire() noexcept;

    /// True when pixels is one of the segments; such a frame goes by put.
    bool owns(std::span<const std::uint8_t> pixels) const noexcept;
    /// 1 or 2 for the first or second segment, 0 for any other memory.
    std::size_t number_of(std::span<const std::uint8_t> pixels) const noexcept;

    /// Queues one ShmPutImage per rectangle of the segment behind pixels (a size x size frame at
    /// depth) into the same place of drawable; only the last asks for a completion, which the
    /// server sends once it has done every request before it too, so the segment counts one
    /// pending request per call. Nothing is sent for no rectangles. Nothing is flushed or waited
    /// for.
    void put(std::uint32_t drawable, std::uint32_t gc, std::uint16_t size, std::uint8_t depth,
             std::span<const std::uint8_t> pixels, std::span<const PixelRect> rects) noexcept;

    /// Takes the completion events and the errors of the shared-memory requests; true when the
    /// event was one of them. After such an error failed() holds for the rest of the run.
    bool take_event(const xcb_generic_event_t& event) noexcept;

    bool failed() const noexcept { return m_failed; }

  private:
    std::size_t index_of(std::uint32_t segment_id) const noexcept;

    xcb_connection_t* m_connection;
    std::array<ShmSegment, SegmentTurns::k_count> m_segments;
    SegmentTurns m_turns;
    std::uint8_t m_major_opcode;
    std::uint8_t m_first_event;
    bool m_failed = false;
};

} // namespace glyphrain
