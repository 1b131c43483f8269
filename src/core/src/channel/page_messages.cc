#include "vesk/core/channel/page_messages.h"

namespace vesk::channel {
namespace {

constexpr char kCloseAnswerFormat[] = "(b)";
constexpr char kInstanceMessageFormat[] = "(i)";
// (program dir, log file, channel socket, channel token, switches,
// executable, plugin origins, cross-origin entries as (source, target
// protocol, target domain, subdomains too))
constexpr char kInitDataFormat[] = "(ssssassasa(sssb))";
constexpr char kCrossOriginEntryFormat[] = "(sssb)";

bool IsOfType(GVariant* value, const char* format) {
  return value && g_variant_is_of_type(value, G_VARIANT_TYPE(format));
}

}  // namespace

GVariant* CloseAnswerPayload(bool keep_open) { return g_variant_new(kCloseAnswerFormat, keep_open); }

std::optional<bool> ReadCloseAnswer(GVariant* payload) {
  if (!IsOfType(payload, kCloseAnswerFormat)) return std::nullopt;
  gboolean keep_open = FALSE;
  g_variant_get(payload, kCloseAnswerFormat, &keep_open);
  return keep_open != FALSE;
}

GVariant* InstanceMessagePayload(int32_t message_id) {
  return g_variant_new(kInstanceMessageFormat, message_id);
}

std::optional<int32_t> ReadInstanceMessage(GVariant* payload) {
  if (!IsOfType(payload, kInstanceMessageFormat)) return std::nullopt;
  gint32 id = 0;
  g_variant_get(payload, kInstanceMessageFormat, &id);
  return id;
}

namespace {

GVariant* StringArray(const std::vector<std::string>& items) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
  for (const std::string& item : items) g_variant_builder_add(&builder, "s", item.c_str());
  return g_variant_builder_end(&builder);
}

void ReadStrings(GVariantIter* iter, std::vector<std::string>* out) {
  const gchar* item = nullptr;
  while (iter && g_variant_iter_next(iter, "&s", &item)) out->emplace_back(item);
}

GVariant* CrossOriginEntries(const std::vector<CrossOriginEntry>& entries) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(sssb)"));
  for (const CrossOriginEntry& entry : entries)
    g_variant_builder_add(&builder, kCrossOriginEntryFormat, entry.source_origin.c_str(),
                          entry.target_protocol.c_str(), entry.target_domain.c_str(),
                          gboolean(entry.allow_target_subdomains));
  return g_variant_builder_end(&builder);
}

void ReadCrossOriginEntries(GVariantIter* iter, std::vector<CrossOriginEntry>* out) {
  const gchar *source = nullptr, *protocol = nullptr, *domain = nullptr;
  gboolean subdomains = FALSE;
  while (iter && g_variant_iter_next(iter, "(&s&s&sb)", &source, &protocol, &domain, &subdomains))
    out->push_back(CrossOriginEntry{source, protocol, domain, subdomains != FALSE});
}

}  // namespace

GVariant* EncodeExtensionInitData(const ExtensionInitData& data) {
  return g_variant_new("(ssss@ass@as@a(sssb))", data.program_dir.c_str(), data.log_path.c_str(),
                       data.channel_socket.c_str(), data.channel_token.c_str(), StringArray(data.switches),
                       data.executable_path.c_str(), StringArray(data.plugin_origins),
                       CrossOriginEntries(data.cross_origin_entries));
}

std::optional<ExtensionInitData> DecodeExtensionInitData(GVariant* data) {
  if (!IsOfType(data, kInitDataFormat)) return std::nullopt;
  ExtensionInitData decoded;
  const gchar *program_dir = nullptr, *log_path = nullptr, *socket = nullptr, *token = nullptr;
  const gchar* executable = nullptr;
  g_autoptr(GVariantIter) switches = nullptr;
  g_autoptr(GVariantIter) plugin_origins = nullptr;
  g_autoptr(GVariantIter) cross_origin_entries = nullptr;
  g_variant_get(data, "(&s&s&s&sas&sasa(sssb))", &program_dir, &log_path, &socket, &token, &switches,
                &executable, &plugin_origins, &cross_origin_entries);
  decoded.executable_path = executable;
  decoded.program_dir = program_dir;
  decoded.log_path = log_path;
  decoded.channel_socket = socket;
  decoded.channel_token = token;
  ReadStrings(switches, &decoded.switches);
  ReadStrings(plugin_origins, &decoded.plugin_origins);
  ReadCrossOriginEntries(cross_origin_entries, &decoded.cross_origin_entries);
  return decoded;
}

}  // namespace vesk::channel
