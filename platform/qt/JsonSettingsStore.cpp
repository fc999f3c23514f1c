#include "JsonSettingsStore.hpp"

#include "platform/Error.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#include "platform/xdg/XdgDirectories.hpp"

#include <QFile>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <ctime>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

namespace quenlitor::platform::qt {

struct JsonSettingsStore::Contents {
    nlohmann::json object = nlohmann::json::object();
    // The file exists but holds no JSON object, or cannot be read.
    bool damaged = false;
};

namespace {

SettingsValue toSettingsValue(const nlohmann::json& json) {
    switch (json.type()) {
    case nlohmann::json::value_t::boolean:
        return json.get<bool>();
    case nlohmann::json::value_t::number_integer:
        return json.get<std::int64_t>();
    case nlohmann::json::value_t::number_unsigned: {
        // The parser reads every non-negative integer as unsigned.
        const auto number = json.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return SettingsOther{};
        }
        return static_cast<std::int64_t>(number);
    }
    case nlohmann::json::value_t::number_float:
        return json.get<double>();
    case nlohmann::json::value_t::string:
        return json.get<std::string>();
    case nlohmann::json::value_t::array: {
        SettingsArray array;
        array.reserve(json.size());
        for (const nlohmann::json& element : json) {
            array.push_back(toSettingsValue(element));
        }
        return array;
    }
    default:
        return SettingsOther{};
    }
}

nlohmann::json toJson(const SettingsValue& value) {
    return std::visit(
        [](const auto& alternative) -> nlohmann::json {
            using Alternative = std::decay_t<decltype(alternative)>;
            if constexpr (std::is_same_v<Alternative, SettingsArray>) {
                nlohmann::json array = nlohmann::json::array();
                for (const SettingsValue& element : alternative) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<Alternative, SettingsOther>) {
                return nullptr;
            } else {
                return alternative;
            }
        },
        static_cast<const SettingsValue::variant&>(value));
}

// The file's JSON, or a discarded value when it is not JSON or nests deeper than any settings of
// ours: such a file is kept aside like a damaged one, never followed down (reading or writing it
// back would recurse as deep as it nests). The library reports its own failures by the discarded
// value, not by exceptions.
nlohmann::json parse(const std::vector<std::uint8_t>& bytes) {
    constexpr int nestingLimit = 32;
    struct TooDeep {};
    try {
        return nlohmann::json::parse(
            bytes.begin(), bytes.end(),
            [](int depth, nlohmann::json::parse_event_t, const nlohmann::json&) {
                if (depth > nestingLimit) {
                    throw TooDeep{};
                }
                return true;
            },
            false);
    } catch (const TooDeep&) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (::localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local) == 0) {
        return std::to_string(now);
    }
    return text;
}

} // namespace

JsonSettingsStore::JsonSettingsStore(std::filesystem::path file) : m_path(std::move(file)) {}

JsonSettingsStore::~JsonSettingsStore() = default;

std::filesystem::path JsonSettingsStore::defaultPath() {
    return xdg::configHome() / xdg::applicationFolder / "ajustes.json";
}

JsonSettingsStore::Contents JsonSettingsStore::readContents(const std::filesystem::path& path) {
    Contents contents;
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error) {
        return contents;
    }
    // Two settings take a few dozen bytes: a file beyond this is no settings file of ours, and is
    // never read whole into memory.
    constexpr std::size_t sizeLimit = 1 << 20;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = xdg::XdgBundleResources({}, sizeLimit).readFile(path);
    } catch (const Error&) {
        contents.damaged = true;
        return contents;
    }
    nlohmann::json json = parse(bytes);
    if (json.is_discarded() || !json.is_object()) {
        contents.damaged = true;
        return contents;
    }
    contents.object = std::move(json);
    return contents;
}

JsonSettingsStore::Contents& JsonSettingsStore::contents() const {
    if (!m_contents) {
        m_contents = std::make_unique<Contents>(readContents(m_path));
    }
    return *m_contents;
}

std::optional<SettingsValue> JsonSettingsStore::objectForKey(std::string_view key) const {
    const nlohmann::json& object = contents().object;
    const auto found = object.find(std::string(key));
    if (found == object.end()) {
        return std::nullopt;
    }
    return toSettingsValue(*found);
}

void JsonSettingsStore::setObject(std::string_view key, SettingsValue value) {
    contents().object[std::string(key)] = toJson(value);
    write();
}

bool JsonSettingsStore::moveDamagedFileAside() {
    const std::string base = m_path.string() + ".dañado-" + timestamp();
    std::filesystem::path backup = base;
    std::error_code error;
    // rename() would silently replace an earlier backup from the same second.
    for (int attempt = 2;
         std::filesystem::symlink_status(backup, error).type() != std::filesystem::file_type::not_found; ++attempt) {
        backup = base + "-" + std::to_string(attempt);
    }
    std::filesystem::rename(m_path, backup, error);
    if (error == std::errc::no_such_file_or_directory) {
        // Gone meanwhile: nothing left to keep.
        return true;
    }
    if (error) {
        m_lastWriteError = "no se pudo apartar " + m_path.string() + ": " + error.message();
        return false;
    }
    m_backupPath = std::move(backup);
    return true;
}

void JsonSettingsStore::write() {
    Contents& current = contents();
    if (current.damaged) {
        if (!moveDamagedFileAside()) {
            return;
        }
        current.damaged = false;
    }
    std::error_code error;
    std::filesystem::create_directories(m_path.parent_path(), error);

    QSaveFile file(QFile::decodeName(m_path.c_str()));
    const std::string text = current.object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const auto size = static_cast<qint64>(text.size());
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), size) != size || !file.commit()) {
        m_lastWriteError = m_path.string() + ": " + file.errorString().toStdString();
        return;
    }
    m_lastWriteError.reset();
}

} // namespace quenlitor::platform::qt
