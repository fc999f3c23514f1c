#include "StandardMIDIFile.hpp"

#include <algorithm>

namespace quenlitor::tokens {

namespace {

constexpr std::uint8_t endOfTrack = 0x2F;

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

bool chunkTypeIs(std::span<const std::uint8_t> bytes, std::size_t at, const char (&type)[5]) {
    return std::equal(type, type + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char expected, std::uint8_t actual) { return static_cast<std::uint8_t>(expected) == actual; });
}

// Four printable ASCII characters, as every chunk type is. Events never begin so: a first byte
// below 0x80 ends the delta time, and the status byte after it is 0x80 or more.
bool looksLikeChunkType(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes.size() - at >= 4 &&
           std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

} // namespace

MIDIFileError::MIDIFileError(std::size_t offset, const std::string& problem)
    : std::runtime_error("archivo MIDI no válido en el byte " + std::to_string(offset) + ": " + problem), m_offset(offset) {}

bool looksLikeStandardMIDIFile(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 4 && chunkTypeIs(bytes, 0, "MThd");
}

StandardMIDIFileReader::StandardMIDIFileReader(std::span<const std::uint8_t> file) : m_file(file) {
    if (file.size() < 14) {
        throw MIDIFileError(file.size(), "la cabecera está incompleta");
    }
    if (!looksLikeStandardMIDIFile(file)) {
        throw MIDIFileError(0, "no empieza por MThd");
    }
    const std::uint32_t headerLength = bigEndian(file, 4, 4);
    if (headerLength < 6) {
        throw MIDIFileError(4, "la cabecera mide menos de 6 bytes");
    }
    if (headerLength > file.size() - 8) {
        throw MIDIFileError(file.size(), "la cabecera está incompleta");
    }
    m_format = bigEndian(file, 8, 2);
    if (m_format > 2) {
        throw MIDIFileError(8, "formato " + std::to_string(m_format) + " no admitido (solo 0, 1 y 2)");
    }
    m_declaredTrackCount = bigEndian(file, 10, 2);

    // Every chunk after the header; those that are not tracks are skipped, as readers must.
    for (std::size_t at = 8 + std::size_t{headerLength}; at < file.size();) {
        if (file.size() - at < 8) {
            noteDamage(MIDIFileError(at, "cabecera de bloque incompleta"));
            break;
        }
        const std::size_t length = bigEndian(file, at + 4, 4);
        const bool runsPastTheEnd = length > file.size() - at - 8;
        if (!chunkTypeIs(file, at, "MTrk")) {
            if (runsPastTheEnd) {
                noteDamage(MIDIFileError(at, "el bloque de " + std::to_string(length) + " bytes pasa del final del archivo"));
                break;
            }
            at += 8 + length;
            continue;
        }
        Track track{.start = at, .position = at + 8, .end = at + 8 + length};
        // A recorder that stopped before writing the length leaves 0 or 0xFFFFFFFF; a file cut
        // short leaves a length that runs past its end. An empty chunk is followed by the next
        // chunk's type or by the end of the file.
        const bool unwritten = length == 0 && at + 8 < file.size() && !looksLikeChunkType(file, at + 8);
        if (runsPastTheEnd || unwritten) {
            if (const auto end = findEndOfTrack(at + 8)) {
                track.end = *end;
                noteDamage(MIDIFileError(at + 4, "la pista declara " + std::to_string(length) +
                                                     " bytes, pero su fin de pista acaba en el byte " + std::to_string(*end)));
            } else {
                track.end = file.size();
                track.cut = true;
            }
        }
        m_tracks.push_back(track);
        at = track.end;
    }
    if (m_tracks.empty()) {
        if (m_damage) {
            throw *m_damage;
        }
        throw MIDIFileError(file.size(), "no hay ninguna pista (ningún bloque MTrk)");
    }

    if (m_format == 2) {
        schedule(0);
    } else {
        for (std::size_t i = 0; i < m_tracks.size(); ++i) {
            schedule(i);
        }
    }
}

bool StandardMIDIFileReader::next(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    while (bytes.empty() && !m_queue.empty()) {
        const std::size_t index = m_queue.top().track;
        m_queue.pop();
        Track& track = m_tracks[index];
        if (track.brokenDelta) {
            readDelta(track); // throws the error again, now that its turn has come
        }
        readEvent(track, bytes);
        schedule(index);
    }
    if (bytes.empty() && m_damage) {
        const MIDIFileError damage = *m_damage;
        m_damage.reset();
        throw damage;
    }
    return !bytes.empty();
}

std::optional<std::size_t> StandardMIDIFileReader::findEndOfTrack(std::size_t position) const {
    Track scan{.start = position - 8, .position = position, .end = m_file.size()};
    std::vector<std::uint8_t> ignored;
    try {
        while (!scan.endOfTrack && readDelta(scan)) {
            ignored.clear();
            readEvent(scan, ignored);
        }
    } catch (const MIDIFileError&) {
        return std::nullopt;
    }
    return scan.endOfTrack ? std::optional(scan.end) : std::nullopt;
}

void StandardMIDIFileReader::noteDamage(MIDIFileError damage) {
    if (!m_damage) {
        m_damage = std::move(damage);
    }
}

void StandardMIDIFileReader::schedule(std::size_t index) {
    for (;;) {
        Track& track = m_tracks[index];
        const std::size_t start = track.position;
        try {
            if (readDelta(track)) {
                m_queue.push({track.time, index});
                return;
            }
        } catch (const MIDIFileError&) {
            // Reported when the merge reaches this track's time, after the other tracks' events
            // that come before it; reading the delta again then throws the same error.
            track.position = start;
            track.brokenDelta = true;
            m_queue.push({track.time, index});
            return;
        }
        // A loop, not a call, for a file of thousands of empty tracks.
        if (m_format != 2 || index + 1 == m_tracks.size()) {
            return;
        }
        m_tracks[index + 1].time = track.time;
        ++index;
    }
}

bool StandardMIDIFileReader::readDelta(Track& track) const {
    if (track.position >= track.end) {
        if (track.cut) {
            throw cutShort(track);
        }
        return false;
    }
    track.time += readVariableLength(track);
    return true;
}

void StandardMIDIFileReader::readEvent(Track& track, std::vector<std::uint8_t>& bytes) const {
    const std::size_t start = track.position;
    std::uint8_t status = readByte(track);
    if (status < 0x80) {
        if (track.runningStatus == 0) {
            throw MIDIFileError(start, "dato sin byte de estado");
        }
        status = track.runningStatus;
        --track.position; // the byte read was the first data byte
    }

    if (status == 0xFF) {
        const std::uint8_t type = readByte(track);
        const std::uint32_t length = readVariableLength(track);
        if (length > track.end - track.position) {
            throw track.cut ? cutShort(track) : MIDIFileError(start, "el evento meta pasa del final de la pista");
        }
        track.position += length;
        track.runningStatus = 0;
        if (type == endOfTrack) {
            // Anything after the end of track is not part of it.
            track.end = track.position;
            track.endOfTrack = true;
        }
        return;
    }
    if (status == 0xF0 || status == 0xF7) {
        const std::uint32_t length = readVariableLength(track);
        if (length > track.end - track.position) {
            throw track.cut ? cutShort(track) : MIDIFileError(start, "el mensaje exclusivo pasa del final de la pista");
        }
        // A message that starts with 0xF0 goes out whole; an escaped 0xF7 packet carries the
        // bytes that follow an earlier 0xF0, or raw bytes, as they are.
        if (status == 0xF0) {
            bytes.push_back(0xF0);
        }
        const auto payload = m_file.subspan(track.position, length);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        track.position += length;
        track.runningStatus = 0;
        return;
    }
    if (status >= 0xF0) {
        throw MIDIFileError(start, "byte de estado no permitido en una pista");
    }

    track.runningStatus = status;
    bytes.push_back(status);
    const std::size_t dataCount = (status & 0xE0) == 0xC0 ? 1 : 2;
    for (std::size_t i = 0; i < dataCount; ++i) {
        const std::size_t at = track.position;
        const std::uint8_t data = readByte(track);
        if (data >= 0x80) {
            throw MIDIFileError(at, "falta un byte de datos");
        }
        bytes.push_back(data);
    }
}

std::uint32_t StandardMIDIFileReader::readVariableLength(Track& track) const {
    const std::size_t start = track.position;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t b = readByte(track);
        value = (value << 7) | (b & 0x7Fu);
        if (b < 0x80) {
            return value;
        }
    }
    throw MIDIFileError(start, "número de longitud variable de más de 4 bytes");
}

std::uint8_t StandardMIDIFileReader::readByte(Track& track) const {
    if (track.position >= track.end) {
        throw track.cut ? cutShort(track) : MIDIFileError(track.position, "la pista termina en mitad de un evento");
    }
    return m_file[track.position++];
}

MIDIFileError StandardMIDIFileReader::cutShort(const Track& track) const {
    return MIDIFileError(m_file.size(),
                         "el archivo se corta antes del final de la pista que empieza en el byte " + std::to_string(track.start));
}

} // namespace quenlitor::tokens
