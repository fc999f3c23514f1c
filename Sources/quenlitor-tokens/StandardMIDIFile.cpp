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
    const std::uint32_t format = bigEndian(file, 8, 2);
    if (format > 1) {
        throw MIDIFileError(8, "formato " + std::to_string(format) + " no admitido (solo 0 y 1)");
    }

    // Every chunk after the header; those that are not tracks are skipped, as readers must.
    for (std::size_t at = 8 + std::size_t{headerLength}; at < file.size();) {
        if (file.size() - at < 8) {
            throw MIDIFileError(at, "cabecera de bloque incompleta");
        }
        const std::size_t length = bigEndian(file, at + 4, 4);
        if (length > file.size() - at - 8) {
            throw MIDIFileError(at, "el bloque de " + std::to_string(length) + " bytes pasa del final del archivo");
        }
        if (chunkTypeIs(file, at, "MTrk")) {
            m_tracks.push_back(Track{.position = at + 8, .end = at + 8 + length});
        }
        at += 8 + length;
    }

    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        schedule(i);
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
    return !bytes.empty();
}

void StandardMIDIFileReader::schedule(std::size_t index) {
    Track& track = m_tracks[index];
    const std::size_t start = track.position;
    try {
        if (!readDelta(track)) {
            return;
        }
    } catch (const MIDIFileError&) {
        // Reported when the merge reaches this track's time, after the other tracks' events
        // that come before it; reading the delta again then throws the same error.
        track.position = start;
        track.brokenDelta = true;
    }
    m_queue.push({track.time, index});
}

bool StandardMIDIFileReader::readDelta(Track& track) {
    if (track.position >= track.end) {
        return false;
    }
    track.time += readVariableLength(track);
    return true;
}

void StandardMIDIFileReader::readEvent(Track& track, std::vector<std::uint8_t>& bytes) {
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
            throw MIDIFileError(start, "el evento meta pasa del final de la pista");
        }
        track.position += length;
        track.runningStatus = 0;
        if (type == endOfTrack) {
            track.position = track.end; // anything after the end of track is not part of it
        }
        return;
    }
    if (status == 0xF0 || status == 0xF7) {
        const std::uint32_t length = readVariableLength(track);
        if (length > track.end - track.position) {
            throw MIDIFileError(start, "el mensaje exclusivo pasa del final de la pista");
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

std::uint32_t StandardMIDIFileReader::readVariableLength(Track& track) {
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

std::uint8_t StandardMIDIFileReader::readByte(Track& track) {
    if (track.position >= track.end) {
        throw MIDIFileError(track.position, "la pista termina en mitad de un evento");
    }
    return m_file[track.position++];
}

} // namespace quenlitor::tokens
