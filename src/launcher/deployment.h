// Deployment data of this build: the application's own origins and the mail
// provider's web-mail hosts that its pages may reach. Change them here only.
#pragma once

namespace pelicard::deployment {

// The two http origins reserved for the application, then its two package
// origins.
inline constexpr const char* kSourceOrigins[] = {
    "http://assistant.mail.kestrow.example",
    "http://desktop.mail.kestrow.example",
    "vesk://pelicard",
    "vesk://vesk",
};

// The six web-mail hosts, each with http and then https.
inline constexpr const char* kWebMailHosts[] = {
    "mail.kestrow.example",     "webmail.kestrow.example", "m.mail.kestrow.example",
    "vip.mail.kestrow.example", "mail2.kestrow.example",   "reg.mail.kestrow.example",
};

inline constexpr const char* kStartUrl = "vesk://vesk/res/app_init.html";
inline constexpr const char* kApplicationNames[] = {"pelicard", "vesk"};

}  // namespace pelicard::deployment
