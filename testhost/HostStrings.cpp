#include "HostStrings.h"

#include <veloran/LocalizedStrings.h>

namespace {

// Sorted by id: French texts under N, English under N + 1000.
constexpr LocalizedString kHostStrings[] = {
    {100, L"Pilote ASIO Veloran : Test de fonctionnalité"},
    {101, L"Cet outil vous permet de vérifier et valider le bon fonctionnement du pilote ASIO Veloran ainsi que vos matériels audio Veloran."},
    {102, L"Matériel(s) détecté(s):"},
    {103, L"Aucun matériel détecté par le pilote!"},
    {104, L"Entrées"},
    {105, L"Sorties"},
    {106, L"Fermer"},
    {107, L"Démarrage du pilote ASIO ..."},
    {109, L"Monitoring activé"},
    {110, L"Monitoring désactivé"},
    {111, L"Utilisation processeur"},
    {112, L"Panneau de contrôle ASIO"},
    {113, L"Démarrer le Monitoring (entrées -> sorties)"},
    {114, L"Test d'écoute"},
    {115, L"Test d'enregistrement"},
    {116, L"Configuration pour les tests"},
    {117, L"Lancer l'écoute"},
    {118, L"Arrêter l'écoute"},
    {119, L"Fichier audio Veloran intégré (courtesy Ysmaro)"},
    {120, L"Fichier audio de votre choix"},
    {121, L"Arrêter le Monitoring (entrées -> sorties)"},
    {122, L"Vitesse d'échantillonage"},
    {123, L"Taille des tampons"},
    {124, L"échantillons"},
    {125, L"Erreur d'ouverture du pilote ASIO Veloran!"},
    {126, L"Aucun"},
    {127, L"Lancer l'enregistrement"},
    {128, L"Arrêter l'enregistrement"},
    {129, L"Mixer les entrées et enregistrer en un seul fichier stéréo"},
    {130, L"Enregistrer chaque entrée dans un fichier séparé"},
    {131, L"Dossier d'enregistrement des fichiers audio"},
    {132, L"Parcourir ..."},
    {133, L"Activer cette entrée"},
    {134, L"Désactiver cette entrée"},
    {135, L"Activer cette sortie"},
    {136, L"Désactiver cette sortie"},
    {137, L"Monitoring (écoute des entrées)"},
    {138, L"Aucune entrée !"},
    {139, L"1 Entrée"},
    {140, L"Aucune sortie !"},
    {150, L"Erreur de lecture du fichier!"},
    {151, L"La vitesse d'échantillonage du fichier doit être 44,1 kHz ou 48kHz!"},
    {152, L"Le fichier audio doit être mono ou stéréo!"},
    {153, L"La résolution du fichier audio doit être 16 ou 32 bits!"},
    {154, L"Attention : la vitesse d'échantillonage du fichier (%d) est différente de celle active (%d)!\nL'écoute sera déformée (vitesse et hauteur différentes).\nVoulez-vous ouvrir ce fichier ?"},
    {155, L"Sélection du fichier audio"},
    {156, L"Fichier audio (*.wav)|*.wav|Tous les fichiers(*.*)|*.*||"},
    {1100, L"Veloran ASIO Driver : Functionality test"},
    {1101, L"This tool allows you to check and validate the correct operation of the Veloran ASIO driver as well as your Veloran hardware."},
    {1102, L"Hardware detected:"},
    {1103, L"No hardware detected by the driver!"},
    {1104, L"Inputs"},
    {1105, L"Outputs"},
    {1106, L"Close"},
    {1107, L"Opening the Veloran ASIO Driver ..."},
    {1109, L"Monitoring : active"},
    {1110, L"Monitoring : inactive"},
    {1111, L"Processor usage"},
    {1112, L"ASIO Control panel"},
    {1113, L"Start Monitoring (inputs -> outputs)"},
    {1114, L"Play test"},
    {1115, L"Record test"},
    {1116, L"Test settings"},
    {1117, L"Start play"},
    {1118, L"Stop play"},
    {1119, L"Internal Veloran audio file (courtesy Ysmaro)"},
    {1120, L"Audio file of your choice"},
    {1121, L"Stop Monitoring (inputs -> outputs)"},
    {1122, L"Sample rate"},
    {1123, L"Buffer size"},
    {1124, L"samples"},
    {1125, L"Error while opening the Veloran ASIO Driver!"},
    {1126, L"None"},
    {1127, L"Start recording"},
    {1128, L"Stop recording"},
    {1129, L"Mix all entries and record into a unique stereo file"},
    {1130, L"Record each entry into a separate file"},
    {1131, L"Folder where to save all audio files"},
    {1132, L"Browse ..."},
    {1133, L"Activate this input"},
    {1134, L"Deactivate this input"},
    {1135, L"Activate this output"},
    {1136, L"Deactivate this output"},
    {1137, L"Monitoring (inputs listening)"},
    {1138, L"No input !"},
    {1139, L"1 Input"},
    {1140, L"No output !"},
    {1150, L"Audio file reading error!"},
    {1151, L"44,1 kHz or 48kHz sample rates supported only!"},
    {1152, L"Mono or stereo formats supported only!"},
    {1153, L"16 or 32 bits format supported only!"},
    {1154, L"Caution : the sampling rate of the selected file (%d) is different from the one currently used (%d)!\nThe listening will be altered (speed and high different)\nWould like to open this file anyway ?"},
    {1155, L"Audio file selection"},
    {1156, L"Audio file (*.wav)|*.wav|All files(*.*)|*.*||"},
};

}  // namespace

const wchar_t* FindHostString(int id) { return FindLocalized(kHostStrings, id); }

bool LoadHostString(int id, int language, std::wstring& text)
{
    return LoadLocalized(kHostStrings, id, language, text);
}

std::wstring HostText(int id, int language)
{
    std::wstring text;
    LoadHostString(id, language, text);
    return text;
}
