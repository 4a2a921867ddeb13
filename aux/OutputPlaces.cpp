#include "aux/OutputPlaces.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "toolkit/SafeFile.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void removeAll(std::string& text, const std::string& part) {
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) {
    text.erase(at, part.size());
  }
}

}  // namespace

EnvLookup processEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
}

std::string localDate(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[80];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return std::string(buffer, n);
}

int GetEnviroment(std::string& PATH, const std::string& option, const EnvLookup& env,
                  std::ostream& log) {
  const std::optional<std::string> value = env(option);
  PATH = value.value_or("");
  if (value) {
    log << "INFO :: OutputPlaces : GetEnviroment: HOME directory used  " << PATH << std::endl;
    return 0;
  }
  log << "INFO :: OutputPlaces : GetEnviroment: The environment variables can not be properly set "
      << std::endl;
  return 1;
}

std::string dirForScan(const std::string& file, const std::string& home, const std::string& date) {
  std::string TestName = ExtractFilename(file);
  removeAll(TestName, ".csv");
  // ".csv", "..csv" and "...csv" would name the dated directory itself or its parents.
  if (TestName.empty() || TestName == "." || TestName == "..") TestName = "_";
  const std::string subtree = contains(home, "ulmena")
                                  ? "/ZELK/HXD/RPCs/20130620_KVT/testKVT/ResistanceAndCurrentPLOTS/"
                                  : "KVT/HVScan/";
  const std::string suffix = contains(file, "CAEN904") ? "_904HVscan/" : "_KVTHVscan/";
  return home + "/Dropbox/" + subtree + date + suffix + TestName + "/";
}

std::string outputDirectory(const std::string& file, const OutputPlace& place) {
  if (place.outputDir) {
    std::string dir = *place.outputDir;
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
  }
  return dirForScan(file, place.env("HOME").value_or(""), place.date);
}

std::string getPathToSave(const std::string& file, const OutputPlace& place, tk::Log& log) {
  std::string result = outputDirectory(file, place);
  if (!place.outputDir) {
    std::string PATH;
    if (GetEnviroment(PATH, "HOME", place.env, log.out()) != 0) {
      // Never fall back to a directory at the file-system root.
      log.error(tk::Status::InvalidArgument("HOME is not set: cannot place outputs under " + result));
      return result;
    }
  }
  std::string error;
  if (!makeDirectories(result, error)) log.error(tk::Status::IOError(error));
  return result;
}

std::string getPathToSave(const std::string& file, const OutputPlace& place, tk::Console& console,
                          tk::Failures& failures) {
  tk::Log log;
  std::string result = getPathToSave(file, place, log);
  console.print(log, failures);
  return result;
}

std::string getName() { return "ALLcurrents"; }

std::string ExtractFilename(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractDirectory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ChangeExtension(const std::string& path, const std::string& ext) {
  const std::string name = ExtractFilename(path);
  const std::size_t dot = name.rfind('.');
  return ExtractDirectory(path) + (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}

bool makeDirectories(const std::string& path, std::string& error) {
  // Walk the path level by level so that every missing level is made and the one
  // that fails is the one named.
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('/', at + 1);
    const std::string level = path.substr(0, at);
    if (level.empty()) continue;
    struct stat info {};
    if (stat(level.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) {
        error = "cannot create directory " + level + ": it exists and is not a directory";
        return false;
      }
      continue;
    }
    if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
      error = "cannot create directory " + level + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

std::string thumbnailName(const std::string& figureBase, const std::string& extension) {
  return extension == ".png" ? "thumbs/" + figureBase + ".png" : "";
}

std::string safeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return "_";
  std::string safe = name;
  // File systems refuse names beyond 255 bytes, and the figures add suffixes and
  // temporary endings: a longer name keeps its start and gets a stable hash of
  // the whole, so that different long names stay different files.
  constexpr std::size_t kLongest = 200;
  constexpr std::size_t kKept = 180;
  if (safe.size() > kLongest) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : name) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    std::size_t cut = kKept;
    // Never cut inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    safe = safe.substr(0, cut) + "~" + hex;
  }
  for (char& c : safe) {
    const auto u = static_cast<unsigned char>(c);
    // Path separators, control characters and the characters that shells and other
    // systems' file names refuse.
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f || c == ':' || c == '*' || c == '?' ||
        c == '"' || c == '<' || c == '>' || c == '|') {
      c = '_';
    }
  }
  return safe;
}

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error, bool durable) {
  std::string temporary;
  std::string reason;
  const int fd = tk::createTempFile(path, temporary, reason);
  if (fd < 0) {
    error = "cannot write " + path + ": " + reason;
    return false;
  }
  if (!tk::writeFully(fd, content.data(), content.size())) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    tk::discardTempFile(fd, temporary);
    return false;
  }
  // Flushed before the rename: after a crash of the machine the name holds the
  // old report or the new one, never an empty file.
  if (!tk::commitTempFile(fd, temporary, path, durable, reason)) {
    error = "cannot write " + path + ": " + reason;
    return false;
  }
  return true;
}
