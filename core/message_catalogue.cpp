#include "core/message_catalogue.h"

namespace {

constexpr int kLaterKeys = MessageCatalogue::kCount - MessageCatalogue::kFirstLaterKey + 1;

// Indexed by key number - kFirstLaterKey.
const char16_t* const kGerman[kLaterKeys] = {
    // Msg26
    u"Die IP-Adresse ist ungültig. Bitte vier Zahlen von 0 bis 255, durch Punkte "
    u"getrennt, eingeben (z. B. 192.168.178.44).",
    // Msg27
    u"Auf dem Receiver fehlt /config/start.sh mit einer ifconfig-Zeile. Bitte zuerst "
    u"die IP-Adresse setzen (IP-Adresse setzen/ändern).",
    // Msg28
    u"/config/start.sh konnte nicht wie vorgesehen geändert werden. Bitte das Skript "
    u"auf dem Receiver prüfen.",
    // Msg29
    u"Die Datei emergency.ub ist zu kurz für ein Boot-Image (weniger als 64 Bytes): "
    u"Der Download ist unvollständig oder es ist die falsche Datei.",
    // Msg30
    u"Die Datei emergency.ub ist kein Boot-Image: Die Kennung am Anfang fehlt. Bitte "
    u"die richtige Datei wählen.",
    // Msg31
    u"Der Kopf der Datei emergency.ub ist beschädigt (Prüfsumme des Kopfes falsch). "
    u"Bitte das Image neu herunterladen.",
    // Msg32
    u"Die Datei emergency.ub ist kürzer, als ihr Kopf angibt: Der Download ist "
    u"unvollständig. Bitte das Image neu herunterladen.",
    // Msg33
    u"Die Daten in emergency.ub sind beschädigt (Prüfsumme der Daten falsch). Bitte "
    u"das Image neu herunterladen.",
    // Msg34
    u"Die Datei emergency.ub konnte nicht gelesen werden:",
    // Msg35
    u"Das Image nennt sich \"%1\": %2 Bytes, Architektur %3, Typ %4, Kompression %5.",
    // Msg36
    u"Dieses Image ist nicht für den Receiver gebaut: Erwartet werden Architektur "
    u"SuperH und Typ Kernel oder Multi-File. Trotzdem fortfahren?",
    // Msg37
    u"/config/start.sh konnte nicht gelesen werden: Der Receiver hat auf die Abfrage "
    u"nicht geantwortet. Es wurde nichts geändert. Bitte erneut versuchen.",
    // Msg38
    u"/config/start.sh konnte nicht gespeichert werden: vi konnte die Datei nicht "
    u"schreiben (ist /config schreibgeschützt?). Es wurde nichts geändert.",
    // Msg39
    u"/config/start.sh wurde geschrieben, enthält beim Nachlesen aber nicht genau "
    u"die neue IP-Adresse. Bitte das Skript auf dem Receiver prüfen.",
    // Msg40
    u"Bitte warten, bis der laufende Vorgang beendet ist.",
    // Msg41
    u"/config/start.sh wurde gelöscht.",
    // Msg42
    u"/config/start.sh ist nach dem Löschen noch vorhanden. Bitte das Skript auf dem "
    u"Receiver prüfen.",
};

const char16_t* const kEnglish[kLaterKeys] = {
    // Msg26
    u"The IP address is not valid. Please enter four numbers from 0 to 255 separated "
    u"by dots (e.g. 192.168.178.44).",
    // Msg27
    u"The receiver has no /config/start.sh with an ifconfig line. Please set the IP "
    u"address first (Functions > Set/change IP address).",
    // Msg28
    u"/config/start.sh could not be changed as intended. Please check the script on "
    u"the receiver.",
    // Msg29
    u"The file emergency.ub is too short for a boot image (less than 64 bytes): the "
    u"download is incomplete or it is the wrong file.",
    // Msg30
    u"The file emergency.ub is not a boot image: it lacks the mark a boot image "
    u"starts with. Please choose the right file.",
    // Msg31
    u"The header of emergency.ub is damaged (the header's checksum is wrong). Please "
    u"download the image again.",
    // Msg32
    u"The file emergency.ub is shorter than its header says: the download is "
    u"incomplete. Please download the image again.",
    // Msg33
    u"The data in emergency.ub is damaged (the data's checksum is wrong). Please "
    u"download the image again.",
    // Msg34
    u"The file emergency.ub could not be read:",
    // Msg35
    u"The image calls itself \"%1\": %2 bytes, architecture %3, type %4, compression "
    u"%5.",
    // Msg36
    u"This image is not built for the receiver: architecture SuperH and type Kernel "
    u"or Multi-File are expected. Continue anyway?",
    // Msg37
    u"/config/start.sh could not be read: the receiver did not answer the query. "
    u"Nothing was changed. Please try again.",
    // Msg38
    u"/config/start.sh could not be saved: vi could not write the file (is /config "
    u"read-only?). Nothing was changed.",
    // Msg39
    u"/config/start.sh was written, but reading it back does not show exactly the "
    u"new IP address. Please check the script on the receiver.",
    // Msg40
    u"Please wait until the running operation has finished.",
    // Msg41
    u"/config/start.sh was deleted.",
    // Msg42
    u"/config/start.sh is still there after deleting it. Please check the script on the "
    u"receiver.",
};

} // namespace

QString MessageCatalogue::builtInText(MessageId id, BuiltInLanguage language) {
    const int index = int(id) - kFirstLaterKey;
    if (index < 0 || index >= kLaterKeys)
        return QString();
    return QString::fromUtf16(language == BuiltInLanguage::English ? kEnglish[index]
                                                                   : kGerman[index]);
}
