#include "formats/tables.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include "platform/format.h"

namespace tessel {
namespace {

// ---------------------------------------------------------------------------------------------
// Stream coding types

enum class CodingClass : uint8_t { kVideo, kAudio, kGraphics, kTextSubtitle };

struct CodingTypeRow {
  uint8_t code;
  const char* name;        // long name, used in dumps
  const char* short_name;  // track lists; nullptr when the type has none
  const char* extension;   // of a demultiplexed stream
  CodingClass type_class;
};

constexpr CodingTypeRow kCodingTypes[] = {
    {coding::kMpeg2Video, "MPEG-2 Video", "MPEG-2 Video", ".m2v", CodingClass::kVideo},
    {coding::kH264, "MPEG-4 AVC/h.264", "MPEG-4 AVC/H.264", ".264", CodingClass::kVideo},
    {coding::kMvc, "MPEG-4 MVC", nullptr, "unknown", CodingClass::kVideo},
    {coding::kVc1, "VC-1", "VC-1", ".vc1", CodingClass::kVideo},
    {coding::kLpcm, "LPCM (WAV)", "LPCM audio", ".wav", CodingClass::kAudio},
    {coding::kAc3, "AC-3", "AC-3", ".ac3", CodingClass::kAudio},
    {coding::kDts, "DTS", "DTS", ".dts", CodingClass::kAudio},
    {coding::kTrueHd, "TrueHD/Dolby Lossless", "TrueHD", ".mlp", CodingClass::kAudio},
    {coding::kEac3, "Dolby Digital Plus/E-AC3", "EAC-3", ".ddp", CodingClass::kAudio},
    {coding::kDtsHd, "DTS-HD except XLL", "DTS-HD except XLL", ".dtshd", CodingClass::kAudio},
    {coding::kDtsHdXll, "DTS-HD XLL", "DTS-HD XLL", ".dtshd", CodingClass::kAudio},
    {coding::kEac3Secondary, "Dolby Digital Plus (2nd Audio)", "EAC-3", ".ddp",
     CodingClass::kAudio},
    {coding::kDtsHdSecondary, "DTS-HD LBR (2nd Audio)", "DTS-HD LBR", ".dtshd",
     CodingClass::kAudio},
    {coding::kPg, "PG/Subtitle", "PG(Subtitle)", ".sup", CodingClass::kGraphics},
    {coding::kIg, "IG/Menu", "IG(Menu)", ".ig", CodingClass::kGraphics},
    {coding::kTextSubtitle, "Text subtitle", "Text subtitle", ".tst", CodingClass::kTextSubtitle},
};

// Row of each code (or -1): every stream attribute read and dumped looks its type up.
constexpr std::array<int8_t, 256> MakeCodingIndex() {
  std::array<int8_t, 256> index{};
  index.fill(-1);
  for (size_t i = 0; i < std::size(kCodingTypes); ++i) {
    index[kCodingTypes[i].code] = static_cast<int8_t>(i);
  }
  return index;
}
constexpr std::array<int8_t, 256> kCodingIndex = MakeCodingIndex();

const CodingTypeRow* FindCodingType(uint8_t code) {
  const int8_t row = kCodingIndex[code];
  return row < 0 ? nullptr : &kCodingTypes[row];
}

bool IsCodingClass(uint8_t code, CodingClass type_class) {
  const CodingTypeRow* row = FindCodingType(code);
  return row != nullptr && row->type_class == type_class;
}

// ---------------------------------------------------------------------------------------------
// Attribute texts, indexed by the 4-bit codes; the codes the Part leaves open read "Reserved".

using AttributeTexts = std::array<const char*, 16>;
constexpr const char* kR = "Reserved";

constexpr AttributeTexts kVideoFormatTexts = {
    kR, "480i", "576i", "480p", "1080i", "720p", "1080p", "576p", kR, kR, kR, kR, kR, kR, kR, kR};
constexpr AttributeTexts kFrameRateTexts = {kR, "23.976", "24", "25", "29.97", kR, "50", "59.94",
                                            kR, kR,       kR,   kR,   kR,      kR, kR,   kR};
constexpr AttributeTexts kAspectRatioTexts = {kR, kR, "4:3", "16:9", kR, kR, kR, kR,
                                              kR, kR, kR,    kR,     kR, kR, kR, kR};
constexpr AttributeTexts kPresentationTypeTexts = {
    kR, "Mono", kR, "Stereo", kR, kR, "Multi", kR, kR, kR, kR, kR, "Multi", kR, kR, kR};
constexpr AttributeTexts kSamplingFrequencyTexts = {
    kR, "48K", kR, kR, "96K", "192K", kR, kR, kR, kR, kR, kR, "48K/96K+192K", kR, "48K+96K", kR};

const char* AttributeText(const AttributeTexts& texts, uint8_t code) {
  return code < texts.size() ? texts[code] : kR;
}

// ---------------------------------------------------------------------------------------------
// Frame timing by frame-rate code; codes 0 and 5 (and the codes above 7) have no rate.

using FrameTimes = std::array<double, 8>;
constexpr FrameTimes kFrameDurationMs = {0,           1001.0 / 24, 1000.0 / 24, 40,
                                         1001.0 / 30, 0,           20,          1001.0 / 60};
constexpr FrameTimes kExactFrameRate = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 0,
                                        50, 60000.0 / 1001};
constexpr FrameTimes kNominalFrameRate = {0, 23.976, 24, 25, 29.97, 0, 50, 59.94};

double FrameTime(const FrameTimes& times, uint8_t code) {
  return code < times.size() ? times[code] : 0;
}

// ---------------------------------------------------------------------------------------------
// PIDs of the stream classes of a Blu-ray transport stream (inclusive ranges).

struct PidRange {
  uint16_t first;
  uint16_t last;
};

constexpr PidRange kKnownPids[] = {
    {0x1011, 0x1011},  // primary video
    {0x1012, 0x1012},  // second view video
    {0x1100, 0x111F},  // primary audio
    {0x1200, 0x12FF},  // presentation graphics
    {0x1400, 0x141F},  // interactive graphics
    {0x1800, 0x1800},  // text subtitle
    {0x1A00, 0x1A1F},  // secondary audio
    {0x1B00, 0x1B1F},  // secondary video
};

// ---------------------------------------------------------------------------------------------
// Language table: the ISO 639-2 codes in the order of the Part, with their ISO 639-2 English
// names, except for the rows the Part quotes (endonyms, old or local forms). Where ISO 639-2
// lists several names, the first is kept, in ASCII. The name of "vol" holds the u-umlaut as
// the two GBK bytes 0xA8 0xB9.

constexpr LanguageEntry kLanguages[] = {
    {"aar", "Afar"},
    {"abk", "Abkhazian"},
    {"ace", "Achinese"},
    {"ach", "Acoli"},
    {"ada", "Adangme"},
    {"ady", "Adyghe"},
    {"afa", "Afro-Asiatic languages"},
    {"afh", "Afrihili"},
    {"afr", "Afrikaans"},
    {"ain", "Ainu"},
    {"aka", "Akan"},
    {"akk", "Akkadian"},
    {"alb", "Albanian"},
    {"ale", "Aleut"},
    {"alg", "Algonquian languages"},
    {"alt", "Southern Altai"},
    {"amh", "Amharic"},
    {"ang", "Englisc English, Old (ca.450-1100)"},
    {"anp", "Angika"},
    {"apa", "Apache languages"},
    {"ara", "Arabic"},
    {"arc", "Official Aramaic (700-300 BCE)"},
    {"arg", "Aragonese"},
    {"arm", "Armenian"},
    {"arn", "Mapudungun"},
    {"arp", "Arapaho"},
    {"art", "Artificial languages"},
    {"arw", "Arawak"},
    {"asm", "Assamese"},
    {"ast", "Asturian"},
    {"ath", "Athapascan languages"},
    {"aus", "Australian languages"},
    {"ava", "Avaric"},
    {"ave", "Avestan"},
    {"awa", "Awadhi"},
    {"aym", "Aymara"},
    {"aze", "Azerbaijani"},
    {"bad", "Banda languages"},
    {"bai", "Bamileke languages"},
    {"bak", "Bashkir"},
    {"bal", "Baluchi"},
    {"bam", "Bambara"},
    {"ban", "Balinese"},
    {"baq", "Basque"},
    {"bas", "Basa"},
    {"bat", "Baltic languages"},
    {"bej", "Beja"},
    {"bel", "Belarusian"},
    {"bem", "Bemba"},
    {"ben", "Bengali"},
    {"ber", "Berber languages"},
    {"bho", "Bhojpuri"},
    {"bih", "Bihari languages"},
    {"bik", "Bikol"},
    {"bin", "Bini"},
    {"bis", "Bislama"},
    {"bla", "Siksika"},
    {"bnt", "Bantu (Other)"},
    {"bod", "Tibetan"},
    {"bos", "Bosnian"},
    {"bra", "Braj"},
    {"bre", "Breton"},
    {"btk", "Batak languages"},
    {"bua", "Buriat"},
    {"bug", "Buginese"},
    {"bul", "Bulgarian"},
    {"bur", "Burmese"},
    {"byn", "Blin"},
    {"cad", "Caddo"},
    {"cai", "Central American Indian languages"},
    {"car", "Galibi Carib"},
    {"cat", "Catalan"},
    {"cau", "Caucasian languages"},
    {"ceb", "Sinugboanon Cebuano"},
    {"cel", "Celtic languages"},
    {"ces", "Czech"},
    {"cha", "Chamoru Chamorro"},
    {"chb", "Chibcha"},
    {"che", "Chechen"},
    {"chg", "Chagatai"},
    {"chk", "Chuukese"},
    {"chm", "Mari"},
    {"chn", "Chinook jargon"},
    {"cho", "Choctaw"},
    {"chp", "Chipewyan"},
    {"chr", "Cherokee"},
    {"chu", "Church Slavic"},
    {"chv", "Chuvash"},
    {"chy", "Cheyenne"},
    {"cmc", "Chamic languages"},
    {"cop", "Coptic"},
    {"cor", "Kernewek Cornish"},
    {"cos", "Corsican"},
    {"cpe", "Creoles and pidgins, English based"},
    {"cpf", "Creoles and pidgins, French-based"},
    {"cpp", "Creoles and pidgins, Portuguese-based"},
    {"cre", "Cree"},
    {"crh", "Crimean Tatar"},
    {"crp", "Creoles and pidgins"},
    {"csb", "Kashubian"},
    {"cus", "Cushitic languages"},
    {"cym", "Welsh"},
    {"dak", "Dakota"},
    {"dan", "Danish"},
    {"dar", "Dargwa"},
    {"day", "Land Dayak languages"},
    {"del", "Delaware"},
    {"den", "Slave (Athapascan)"},
    {"deu", "German"},
    {"dgr", "Dogrib"},
    {"din", "Dinka"},
    {"div", "Divehi"},
    {"doi", "Dogri"},
    {"dra", "Dravidian languages"},
    {"dsb", "Lower Sorbian"},
    {"dua", "Duala"},
    {"dum", "Dutch, Middle (ca. 1050-1350)"},
    {"nld", "Dutch"},
    {"dyu", "Dyula"},
    {"dzo", "Dzongkha"},
    {"efi", "Efik"},
    {"egy", "Egyptian (Ancient)"},
    {"eka", "Ekajuk"},
    {"ell", "Greek, Modern (1453-)"},
    {"elx", "Elamite"},
    {"eng", "English"},
    {"enm", "English, Middle (1100-1500)"},
    {"epo", "Esperanto"},
    {"est", "Estonian"},
    {"ewe", "Ewe"},
    {"ewo", "Ewondo"},
    {"fan", "Fang"},
    {"fao", "Faroese"},
    {"fat", "Fanti"},
    {"fij", "Fijian"},
    {"fil", "Pilipino"},
    {"fin", "Finnish"},
    {"fiu", "Finno-Ugrian languages"},
    {"fon", "Fon"},
    {"fra", "French"},
    {"frm", "French, Middle (ca. 1400-1600)"},
    {"fro", "French, Old (842-ca. 1400)"},
    {"frs", "Eastern Frisian"},
    {"fry", "Western Frisian"},
    {"ful", "Fulah"},
    {"fur", "Friulian"},
    {"gaa", "Ga"},
    {"gay", "Gayo"},
    {"gba", "Gbaya"},
    {"gem", "Germanic languages"},
    {"gez", "Geez"},
    {"gil", "Gilbertese"},
    {"gla", "Gaelic"},
    {"gle", "Irish"},
    {"glg", "Galician"},
    {"glv", "Ghaelg Manx"},
    {"gmh", "Mittelhochdeutsch German, Middle High (ca.1050-1500)"},
    {"goh", "Althochdeutsch German, Old High (ca.750-1050)"},
    {"gon", "Gondi"},
    {"gor", "Gorontalo"},
    {"got", "Gothic"},
    {"grb", "Grebo"},
    {"grc", "Greek, Ancient (to 1453)"},
    {"grn", "Guarani"},
    {"gsw", "Alemanic"},
    {"guj", "Gujarati"},
    {"gwi", "Gwich'in"},
    {"hai", "Haida"},
    {"hat", "Haitian Creole"},
    {"hau", "Hausa"},
    {"haw", "Hawaiian"},
    {"heb", "Hebrew"},
    {"her", "Herero"},
    {"hil", "Hiligaynon"},
    {"him", "Himachali languages"},
    {"hin", "Hindi"},
    {"hit", "Hittite"},
    {"hmn", "Hmong"},
    {"hmo", "Hiri Motu"},
    {"hrv", "Hrvatski Croatian"},
    {"hsb", "Upper Sorbian"},
    {"hun", "Hungarian"},
    {"hup", "Hupa"},
    {"iba", "Iban"},
    {"ibo", "Igbo"},
    {"ido", "Ido"},
    {"iii", "Sichuan Yi"},
    {"ijo", "Ijo languages"},
    {"iku", "Inuktitut"},
    {"ile", "Interlingue"},
    {"ilo", "Iloko"},
    {"ina", "Interlingua (International Auxiliary Language Association)"},
    {"inc", "Indic languages"},
    {"ind", "Indonesian"},
    {"ine", "Indo-European languages"},
    {"inh", "Ingush"},
    {"ipk", "Inupiaq"},
    {"ira", "Iranian languages"},
    {"iro", "Iroquoian languages"},
    {"isl", "Icelandic"},
    {"ita", "Italian"},
    {"jav", "Javanese"},
    {"jbo", "Lojban"},
    {"jpn", "Japanese"},
    {"jpr", "Judeo-Persian"},
    {"jrb", "Judeo-Arabic"},
    {"kaa", "Kara-Kalpak"},
    {"kab", "Kabyle"},
    {"kac", "Kachin"},
    {"kal", "Kalaallisut"},
    {"kam", "Kamba"},
    {"kan", "Kannada"},
    {"kar", "Karen languages"},
    {"kas", "Kashmiri"},
    {"kat", "Georgian"},
    {"kau", "Kanuri"},
    {"kaw", "Kawi"},
    {"kaz", "Kazakh"},
    {"kbd", "Kabardian"},
    {"kha", "Khasi"},
    {"khi", "Khoisan languages"},
    {"khm", "Central Khmer"},
    {"kho", "Khotanese"},
    {"kik", "Gikuyu"},
    {"kin", "Kinyarwanda"},
    {"kir", "Kirghiz"},
    {"kmb", "Kimbundu"},
    {"kok", "Konkani"},
    {"kom", "Komi"},
    {"kon", "Kongo"},
    {"kor", "Korean"},
    {"kos", "Kosraean"},
    {"kpe", "Kpelle"},
    {"krc", "Karachay-Balkar"},
    {"krl", "Karelian"},
    {"kro", "Kru languages"},
    {"kru", "Kurukh"},
    {"kua", "Kuanyama"},
    {"kum", "Kumyk"},
    {"kur", "Kurdish"},
    {"kut", "Kutenai"},
    {"lad", "Ladino"},
    {"lah", "Lahnda"},
    {"lam", "Lamba"},
    {"lao", "Lao"},
    {"lat", "Latin"},
    {"lav", "Latvian"},
    {"lez", "Lezghian"},
    {"lim", "Limburgan"},
    {"lin", "Lingala"},
    {"lit", "Lithuanian"},
    {"lol", "Mongo"},
    {"loz", "Lozi"},
    {"ltz", "Letzeburgesch"},
    {"lua", "Luba-Lulua"},
    {"lub", "Luba-Katanga"},
    {"lug", "Ganda"},
    {"lui", "Luiseno"},
    {"lun", "Lunda"},
    {"luo", "Dholuo Luo (Kenya and Tanzania)"},
    {"lus", "lushai"},
    {"mkd", "Macedonian"},
    {"mad", "Madurese"},
    {"mag", "Magahi"},
    {"mah", "Marshallese"},
    {"mai", "Maithili"},
    {"mak", "Makasar"},
    {"mal", "Malayalam"},
    {"man", "Mandingo"},
    {"mri", "Maori"},
    {"map", "Austronesian languages"},
    {"mar", "Marathi"},
    {"mas", "Masai"},
    {"msa", "Malay"},
    {"mdf", "Moksha"},
    {"mdr", "Mandar"},
    {"men", "Mende"},
    {"mga", "Irish, Middle (900-1200)"},
    {"mic", "Mi'kmaq"},
    {"min", "Minangkabau"},
    {"mis", "Uncoded languages"},
    {"mkh", "Mon-Khmer languages"},
    {"mlg", "Malagasy"},
    {"mlt", "Maltese"},
    {"mnc", "Manchu"},
    {"mni", "Manipuri"},
    {"mno", "Manobo languages"},
    {"moh", "Mohawk"},
    {"mol", "Moldavian"},
    {"mon", "Mongolian"},
    {"mos", "Mossi"},
    {"mul", "Multiple languages"},
    {"mun", "Munda languages"},
    {"mus", "Creek"},
    {"mwl", "Mirandese"},
    {"mwr", "Marwari"},
    {"myn", "Mayan languages"},
    {"myv", "Erzya"},
    {"nah", "Nahuatl languages"},
    {"nai", "North American Indian languages"},
    {"nap", "Neapolitan"},
    {"nau", "Nauru"},
    {"nav", "Navajo"},
    {"nbl", "Ndebele, South"},
    {"nde", "Ndebele, North"},
    {"ndo", "Ndonga"},
    {"nds", "Low German"},
    {"nep", "Nepali"},
    {"new", "Nepal Bhasa"},
    {"nia", "Nias"},
    {"nic", "Niger-Kordofanian languages"},
    {"niu", "Niuean"},
    {"nno", "Norwegian Nynorsk"},
    {"nob", "Norwegian Bokmal"},
    {"nog", "Nogai"},
    {"non", "Norse, Old"},
    {"nor", "Norwegian"},
    {"nso", "Pedi"},
    {"nub", "Nubian languages"},
    {"nwc", "Classical Newari"},
    {"nya", "Chichewa"},
    {"nym", "Nyamwezi"},
    {"nyn", "Nyankole"},
    {"nyo", "Nyoro"},
    {"nzi", "Nzima"},
    {"oci", "Occitan (post 1500)"},
    {"oji", "Ojibwa"},
    {"ori", "Oriya"},
    {"orm", "Afaan Oromoo Oromo"},
    {"osa", "Osage"},
    {"oss", "Ossetian"},
    {"ota", "Turkish, Ottoman (1500-1928)"},
    {"oto", "Otomian languages"},
    {"paa", "Papuan languages"},
    {"pag", "Pangasinan"},
    {"pal", "Pahlavi"},
    {"pam", "Pampanga"},
    {"pan", "Panjabi"},
    {"pap", "Papiamentu Papiamento"},
    {"pau", "Palauan"},
    {"peo", "Persian, Old (ca. 600-400 B.C.)"},
    {"phi", "Philippine languages"},
    {"phn", "Phoenician"},
    {"pli", "Pali"},
    {"pol", "Polish"},
    {"pon", "Pohnpeian"},
    {"por", "Portuguese"},
    {"pra", "Prakrit languages"},
    {"pro", "Provencal, Old (to 1500)"},
    {"pus", "Pushto"},
    {"que", "Kichwa Quechua"},
    {"raj", "Rajasthani"},
    {"rap", "Rapanui"},
    {"rar", "Rarotongan"},
    {"roa", "Romance languages"},
    {"roh", "Romansh"},
    {"rom", "Romany"},
    {"ron", "Romanian"},
    {"run", "Rundi"},
    {"rus", "Russian"},
    {"sad", "Sandawe"},
    {"sag", "Sango"},
    {"sah", "Yakut"},
    {"sai", "South American Indian (Other)"},
    {"sal", "Salishan languages"},
    {"sam", "Samaritan Aramaic"},
    {"san", "Sanskrit"},
    {"sas", "Sasak"},
    {"sat", "Santali"},
    {"scn", "Sicilian"},
    {"sco", "Lallans Scots"},
    {"sel", "Selkup"},
    {"sem", "Semitic languages"},
    {"sga", "Irish, Old (to 900)"},
    {"sgn", "Sign Languages"},
    {"shn", "Shan"},
    {"sid", "Sidamo"},
    {"sin", "Sinhalese"},
    {"sio", "Siouan languages"},
    {"sit", "Sino-Tibetan languages"},
    {"sla", "Slavic languages"},
    {"slk", "Slovak"},
    {"slv", "Slovenian"},
    {"sma", "Southern Sami"},
    {"sme", "Northern Sami"},
    {"smi", "Sami languages"},
    {"smn", "Inari Sami"},
    {"smo", "Samoan"},
    {"sms", "Skolt Sami"},
    {"sna", "Shona"},
    {"snd", "Sindhi"},
    {"snk", "Soninke"},
    {"sog", "Sogdian"},
    {"som", "Somali"},
    {"son", "Songhai languages"},
    {"sot", "Sotho, Southern"},
    {"spa", "Spanish"},
    {"srd", "Sardinian"},
    {"srp", "Serbian"},
    {"srr", "Serer"},
    {"ssa", "Nilo-Saharan languages"},
    {"ssw", "Swati"},
    {"suk", "Sukuma"},
    {"sun", "Sundanese"},
    {"sus", "Susu"},
    {"sux", "Sumerian"},
    {"swa", "Kiswahili Swahili"},
    {"swe", "Swedish"},
    {"syr", "Syriac"},
    {"tah", "Tahitian"},
    {"tai", "Tai languages"},
    {"tam", "Tamil"},
    {"tat", "Tatar"},
    {"tel", "Telugu"},
    {"tem", "Timne"},
    {"ter", "Tereno"},
    {"tet", "Tetum"},
    {"tgk", "Tajik"},
    {"tgl", "Tagalog"},
    {"tha", "Thai"},
    {"tig", "Tigre"},
    {"tir", "Tigrinya"},
    {"tiv", "Tiv"},
    {"tkl", "Tokelau"},
    {"tlh", "tlhIngan-Hol"},
    {"tli", "Tlingit"},
    {"tmh", "Tamashek"},
    {"tog", "Tonga (Nyasa)"},
    {"ton", "Tonga (Tonga Islands)"},
    {"tpi", "Tok Pisin"},
    {"tsi", "Tsimshian"},
    {"tsn", "Tswana"},
    {"tso", "Tsonga"},
    {"tuk", "Turkmen"},
    {"tum", "Tumbuka"},
    {"tup", "Tupi languages"},
    {"tur", "Turkish"},
    {"tut", "Altaic languages"},
    {"tvl", "Tuvalu"},
    {"twi", "Twi"},
    {"tyv", "Tuvinian"},
    {"udm", "Udmurt"},
    {"uga", "Ugaritic"},
    {"uig", "Uyghur"},
    {"ukr", "Ukrainian"},
    {"umb", "Umbundu"},
    {"und", "Undetermined"},
    {"urd", "Urdu"},
    {"uzb", "Uzbek"},
    {"vai", "Vai"},
    {"ven", "Venda"},
    {"vie", "Vietnamese"},
    {"vol",
     "Volap\xA8\xB9"
     "k"},
    {"vot", "Votic"},
    {"wak", "Wakashan languages"},
    {"wal", "Walamo"},
    {"war", "Waray"},
    {"was", "Washo"},
    {"wen", "Sorbian languages"},
    {"wln", "Walloon"},
    {"wol", "Wolof"},
    {"xal", "Kalmyk"},
    {"xho", "Xhosa"},
    {"yao", "Yao"},
    {"yap", "Yapese"},
    {"yid", "Yiddish"},
    {"yor", "Yoruba"},
    {"ypk", "Yupik languages"},
    {"zap", "Zapotec"},
    {"zen", "Zenaga"},
    {"zha", "Zhuang"},
    {"zho", "Chinese"},
    {"znd", "Zande languages"},
    {"zul", "Zulu"},
    {"zun", "Zuni"},
};
static_assert(std::size(kLanguages) == kLanguageCount, "the language table has 475 rows");

constexpr bool CodeIs(const char* a, std::string_view b) {
  return std::string_view(a, 3) == b.substr(0, 3);
}

constexpr int FindRow(std::string_view code) {
  if (code.size() < 3) return -1;
  for (int row = 0; row < kLanguageCount; ++row) {
    if (CodeIs(kLanguages[row].code, code)) return row;
  }
  return -1;
}

static_assert(FindRow("eng") == kDefaultLanguageRow, "row 125 is English");
static_assert(FindRow("aar") == 0 && FindRow("zun") == kLanguageCount - 1);
static_assert(FindRow("fre") == -1 && FindRow("per") == -1 && FindRow("fas") == -1);

// The rows shown first in the language pickers, in this order; the others follow in row order.
constexpr std::string_view kLeadingDisplayCodes[] = {"ces", "deu", "nld", "eng", "fra", "ind",
                                                     "ita", "jpn", "kor", "nor", "por", "ron",
                                                     "rus", "spa", "swe", "tha", "zho"};
static_assert(std::size(kLeadingDisplayCodes) == 17);

using DisplayOrder = std::array<int16_t, kLanguageCount>;

constexpr DisplayOrder MakeDisplayOrder() {
  DisplayOrder order{};
  std::array<bool, kLanguageCount> leading{};
  int position = 0;
  for (std::string_view code : kLeadingDisplayCodes) {
    int row = FindRow(code);
    leading[row] = true;  // a missing code fails the constant evaluation
    order[position++] = static_cast<int16_t>(row);
  }
  for (int row = 0; row < kLanguageCount; ++row) {
    if (!leading[row]) order[position++] = static_cast<int16_t>(row);
  }
  return order;
}

constexpr DisplayOrder kDisplayOrder = MakeDisplayOrder();

constexpr bool IsPermutation(const DisplayOrder& order) {
  std::array<bool, kLanguageCount> seen{};
  for (int16_t row : order) {
    if (row < 0 || row >= kLanguageCount || seen[row]) return false;
    seen[row] = true;
  }
  return true;
}

static_assert(kDisplayOrder.size() == kLanguageCount, "475 display entries");
static_assert(IsPermutation(kDisplayOrder), "the display order is a permutation of the rows");

constexpr DisplayOrder MakeDisplayPositions() {
  DisplayOrder positions{};
  for (int position = 0; position < kLanguageCount; ++position) {
    positions[kDisplayOrder[position]] = static_cast<int16_t>(position);
  }
  return positions;
}

constexpr DisplayOrder kDisplayPositions = MakeDisplayPositions();
static_assert(kDisplayPositions[kDefaultLanguageRow] == 3, "English is shown fourth");

// Codes of ISO 639-2 that the table holds under the other code of the same language.
struct LanguageAlias {
  std::string_view alias;
  std::string_view code;
};

constexpr LanguageAlias kLanguageAliases[] = {
    // bibliographic codes of the rows holding the terminology code
    {"tib", "bod"},
    {"cze", "ces"},
    {"wel", "cym"},
    {"ger", "deu"},
    {"gre", "ell"},
    {"fre", "fra"},
    {"ice", "isl"},
    {"geo", "kat"},
    {"mac", "mkd"},
    {"mao", "mri"},
    {"may", "msa"},
    {"dut", "nld"},
    {"rum", "ron"},
    {"slo", "slk"},
    {"chi", "zho"},
    // terminology codes of the rows holding the bibliographic code
    {"sqi", "alb"},
    {"hye", "arm"},
    {"eus", "baq"},
    {"mya", "bur"},
};

static_assert(
    [] {
      for (const LanguageAlias& alias : kLanguageAliases) {
        if (FindRow(alias.alias) >= 0 || FindRow(alias.code) < 0) return false;
      }
      return true;
    }(),
    "every alias names a row and is none itself");

std::string_view DisplayCode(const char (&language)[4]) {
  size_t length = 0;
  while (length < 3 && language[length] != '\0') ++length;
  return std::string_view(language, length);
}

}  // namespace

const char* CodingTypeName(uint8_t code) {
  const CodingTypeRow* row = FindCodingType(code);
  return row ? row->name : nullptr;
}

const char* CodingTypeShortName(uint8_t code) {
  const CodingTypeRow* row = FindCodingType(code);
  return row ? row->short_name : nullptr;
}

const char* DemuxExtension(uint8_t code) {
  const CodingTypeRow* row = FindCodingType(code);
  return row ? row->extension : "unknown";
}

bool IsVideoCodingType(uint8_t code) {
  return IsCodingClass(code, CodingClass::kVideo);
}
bool IsAudioCodingType(uint8_t code) {
  return IsCodingClass(code, CodingClass::kAudio);
}
bool IsGraphicsCodingType(uint8_t code) {
  return IsCodingClass(code, CodingClass::kGraphics);
}
bool IsTextSubtitleCodingType(uint8_t code) {
  return IsCodingClass(code, CodingClass::kTextSubtitle);
}

const char* VideoFormatText(uint8_t code) {
  return AttributeText(kVideoFormatTexts, code);
}
const char* FrameRateText(uint8_t code) {
  return AttributeText(kFrameRateTexts, code);
}
const char* AspectRatioText(uint8_t code) {
  return AttributeText(kAspectRatioTexts, code);
}
const char* AudioPresentationTypeText(uint8_t code) {
  return AttributeText(kPresentationTypeTexts, code);
}
const char* SamplingFrequencyText(uint8_t code) {
  return AttributeText(kSamplingFrequencyTexts, code);
}

double FrameDurationMs(uint8_t frame_rate_code) {
  return FrameTime(kFrameDurationMs, frame_rate_code);
}
double ExactFrameRate(uint8_t frame_rate_code) {
  return FrameTime(kExactFrameRate, frame_rate_code);
}
double NominalFrameRate(uint8_t frame_rate_code) {
  return FrameTime(kNominalFrameRate, frame_rate_code);
}

bool IsKnownPid(uint16_t pid) {
  return std::any_of(std::begin(kKnownPids), std::end(kKnownPids), [pid](const PidRange& range) {
    return pid >= range.first && pid <= range.last;
  });
}

const LanguageEntry& LanguageAt(int row) {
  return kLanguages[std::clamp(row, 0, kLanguageCount - 1)];
}

int LanguageRow(std::string_view code) {
  int row = FindRow(code);
  return row >= 0 ? row : kDefaultLanguageRow;
}

int LanguageRowAnyCode(std::string_view code) {
  if (code.size() < 3) return -1;
  char lower[3];
  for (int i = 0; i < 3; ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
  }
  std::string_view key(lower, 3);
  int row = FindRow(key);
  if (row >= 0) return row;
  for (const LanguageAlias& alias : kLanguageAliases) {
    if (alias.alias == key) return FindRow(alias.code);
  }
  return -1;
}

int LanguageDisplayPosition(std::string_view code) {
  return kDisplayPositions[LanguageRow(code)];
}

int LanguageRowAtDisplayPosition(int position) {
  return kDisplayOrder[std::clamp(position, 0, kLanguageCount - 1)];
}

std::string LanguageDisplayText(int position) {
  const LanguageEntry& entry = LanguageAt(LanguageRowAtDisplayPosition(position));
  return Format("%s (%s)", entry.code, entry.name);
}

std::string StreamDescription(const StreamAttributeValues& attributes, bool with_language) {
  const uint8_t type = attributes.coding_type;
  std::string language(with_language ? DisplayCode(attributes.language) : std::string_view());
  if (IsVideoCodingType(type)) {
    std::string text;
    if (attributes.aspect_ratio == 2 || attributes.aspect_ratio == 3) {
      text = Format("%s, %s, %s", VideoFormatText(attributes.video_format),
                    FrameRateText(attributes.frame_rate), AspectRatioText(attributes.aspect_ratio));
    } else {
      text = Format("%s, %s", VideoFormatText(attributes.video_format),
                    FrameRateText(attributes.frame_rate));
    }
    if (attributes.cc_flag) text += " CC";
    return text;
  }
  if (IsAudioCodingType(type)) {
    return Format("%s, %s, %s", AudioPresentationTypeText(attributes.presentation_type),
                  SamplingFrequencyText(attributes.sampling_frequency), language.c_str());
  }
  if (IsGraphicsCodingType(type)) return language;
  if (IsTextSubtitleCodingType(type) && with_language) {
    return Format("%d, %s", attributes.character_code, language.c_str());
  }
  return std::string();
}

}  // namespace tessel
