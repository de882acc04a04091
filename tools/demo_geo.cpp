#include "tools/demo_geo.h"

namespace demo {

const std::vector<ProvinceInfo>& CanadianProvinces() {
  static const std::vector<ProvinceInfo> list = {
      {"NF", "Newfoundland and Labrador", -52.7, 27},
      {"NS", "Nova Scotia", -63.6, 63},
      {"PE", "Prince Edward Island", -63.1, 6},
      {"NB", "New Brunswick", -66.6, 90},
      {"QC", "Quebec", -71.2, 320},
      {"ON", "Ontario", -79.4, 530},
      {"MB", "Manitoba", -97.1, 55},
      {"SK", "Saskatchewan", -104.6, 44},
      {"AB", "Alberta", -113.5, 125},
      {"BC", "British Columbia", -123.4, 160},
      {"NU", "Nunavut", -68.5, 3},
      {"NT", "Northwest Territories", -114.4, 3},
      {"YT", "Yukon", -135.1, 3},
  };
  return list;
}

const std::vector<CityRange>& CanadianCities() {
  static const std::vector<CityRange> list = {
      {"A1A", "A1H", "St. John's"},     {"A1N", "A1N", "Mount Pearl"},
      {"B1P", "B1S", "Sydney"},         {"B2V", "B3A", "Dartmouth"},
      {"B3H", "B3S", "Halifax"},        {"C1A", "C1E", "Charlottetown"},
      {"E1A", "E1G", "Moncton"},        {"E2H", "E2M", "Saint John"},
      {"E3A", "E3G", "Fredericton"},    {"G1A", "G2N", "Quebec"},
      {"G7H", "G7S", "Saguenay"},       {"G8T", "G9C", "Trois-Rivieres"},
      {"H1A", "H4Z", "Montreal"},       {"H7A", "H7Y", "Laval"},
      {"H8N", "H9X", "Montreal"},       {"J1E", "J1N", "Sherbrooke"},
      {"J4G", "J4Y", "Longueuil"},      {"J8L", "J9J", "Gatineau"},
      {"K1A", "K2W", "Ottawa"},         {"K7K", "K7P", "Kingston"},
      {"L1G", "L1L", "Oshawa"},         {"L2M", "L2W", "St. Catharines"},
      {"L4T", "L5W", "Mississauga"},    {"L6P", "L7A", "Brampton"},
      {"L8E", "L9K", "Hamilton"},       {"M1B", "M9W", "Toronto"},
      {"N1E", "N1L", "Guelph"},         {"N2A", "N2V", "Kitchener"},
      {"N5V", "N6P", "London"},         {"N8N", "N9K", "Windsor"},
      {"P3A", "P3Y", "Sudbury"},        {"P7A", "P7K", "Thunder Bay"},
      {"R2C", "R3Y", "Winnipeg"},       {"R7A", "R7C", "Brandon"},
      {"S4N", "S4Z", "Regina"},         {"S7H", "S7W", "Saskatoon"},
      {"T1A", "T1C", "Medicine Hat"},   {"T1H", "T1K", "Lethbridge"},
      {"T1Y", "T3S", "Calgary"},        {"T4N", "T4R", "Red Deer"},
      {"T5A", "T6X", "Edmonton"},       {"V1Y", "V1Z", "Kelowna"},
      {"V3R", "V4A", "Surrey"},         {"V5A", "V5J", "Burnaby"},
      {"V5K", "V6Z", "Vancouver"},      {"V8N", "V9E", "Victoria"},
      {"V9R", "V9T", "Nanaimo"},        {"X0A", "X0A", "Iqaluit"},
      {"X1A", "X1A", "Yellowknife"},    {"Y1A", "Y1A", "Whitehorse"},
  };
  return list;
}

const std::vector<const char*>& ProvinceTowns(const std::string& p) {
  static const std::vector<const char*> nf = {"Corner Brook", "Gander", "Grand Falls-Windsor", "Happy Valley-Goose Bay",
                                              "Labrador City", "Stephenville", "Clarenville", "Bonavista", "Carbonear", "Marystown"};
  static const std::vector<const char*> ns = {"Truro", "New Glasgow", "Kentville", "Yarmouth", "Bridgewater",
                                              "Antigonish", "Amherst", "Wolfville", "Digby", "Lunenburg"};
  static const std::vector<const char*> pe = {"Summerside", "Montague", "Souris", "Kensington", "Alberton", "Georgetown"};
  static const std::vector<const char*> nb = {"Bathurst", "Miramichi", "Edmundston", "Campbellton", "Sussex",
                                              "Woodstock", "Sackville", "Shediac", "Caraquet", "Grand Falls"};
  static const std::vector<const char*> qc = {"Rimouski", "Rouyn-Noranda", "Drummondville", "Granby", "Saint-Hyacinthe",
                                              "Shawinigan", "Victoriaville", "Val-d'Or", "Sept-Iles", "Joliette",
                                              "Baie-Comeau", "Alma", "Magog", "Sorel-Tracy", "Thetford Mines", "Gaspe"};
  static const std::vector<const char*> on = {"Barrie", "Peterborough", "Belleville", "Sarnia", "Sault Ste. Marie",
                                              "North Bay", "Timmins", "Cornwall", "Brantford", "Owen Sound", "Orillia",
                                              "Stratford", "Chatham", "Woodstock", "Kenora", "Pembroke", "Niagara Falls",
                                              "Collingwood", "Huntsville", "Cobourg"};
  static const std::vector<const char*> mb = {"Steinbach", "Thompson", "Portage la Prairie", "Selkirk", "Dauphin",
                                              "Winkler", "Morden", "Flin Flon", "The Pas"};
  static const std::vector<const char*> sk = {"Prince Albert", "Moose Jaw", "Swift Current", "Yorkton", "North Battleford",
                                              "Estevan", "Weyburn", "Melfort", "Humboldt"};
  static const std::vector<const char*> ab = {"Grande Prairie", "Fort McMurray", "Airdrie", "Camrose", "Brooks",
                                              "Lloydminster", "Canmore", "Cold Lake", "Wetaskiwin", "Okotoks", "Banff"};
  static const std::vector<const char*> bc = {"Kamloops", "Prince George", "Vernon", "Penticton", "Chilliwack",
                                              "Abbotsford", "Courtenay", "Cranbrook", "Nelson", "Terrace", "Prince Rupert",
                                              "Fort St. John", "Campbell River", "Squamish", "Whistler"};
  static const std::vector<const char*> nu = {"Rankin Inlet", "Cambridge Bay", "Arviat", "Baker Lake", "Pond Inlet"};
  static const std::vector<const char*> nt = {"Hay River", "Inuvik", "Fort Smith", "Behchoko", "Fort Simpson"};
  static const std::vector<const char*> yt = {"Dawson City", "Watson Lake", "Haines Junction", "Carmacks"};
  static const std::vector<const char*> none;
  if (p == "NF") return nf;
  if (p == "NS") return ns;
  if (p == "PE") return pe;
  if (p == "NB") return nb;
  if (p == "QC") return qc;
  if (p == "ON") return on;
  if (p == "MB") return mb;
  if (p == "SK") return sk;
  if (p == "AB") return ab;
  if (p == "BC") return bc;
  if (p == "NU") return nu;
  if (p == "NT") return nt;
  if (p == "YT") return yt;
  return none;
}

std::vector<std::string> CandidateAreas(const std::string& p) {
  // The territories have a few real areas only.
  if (p == "NU") return {"X0A", "X0B", "X0C"};
  if (p == "NT") return {"X0E", "X0G", "X1A"};
  if (p == "YT") return {"Y0A", "Y0B", "Y1A"};
  std::string letters;
  if (p == "NF") letters = "A";
  else if (p == "NS") letters = "B";
  else if (p == "PE") letters = "C";
  else if (p == "NB") letters = "E";
  else if (p == "QC") letters = "GHJ";
  else if (p == "ON") letters = "KLMNP";
  else if (p == "MB") letters = "R";
  else if (p == "SK") letters = "S";
  else if (p == "AB") letters = "T";
  else if (p == "BC") letters = "V";
  static const char kThird[] = "ABCEGHJKLMNPRSTVWXYZ";  // letters used in postal codes
  std::vector<std::string> out;
  for (char l : letters)
    for (char d = '0'; d <= '9'; ++d) {
      if (l == 'M' && d == '0') continue;  // Toronto has no rural areas
      for (const char* t = kThird; *t; ++t) out.push_back(std::string{l, d, *t});
    }
  return out;
}

const std::vector<StateInfo>& UsStates() {
  static const std::vector<StateInfo> list = {
      {"AL", "Alabama", -86.8, {{350, 369}}, {{352, "Birmingham"}, {361, "Montgomery"}, {366, "Mobile"}, {358, "Huntsville"}}},
      {"AK", "Alaska", -152.0, {{995, 999}}, {{995, "Anchorage"}, {997, "Fairbanks"}, {998, "Juneau"}}},
      {"AZ", "Arizona", -111.7, {{850, 865}}, {{850, "Phoenix"}, {857, "Tucson"}, {852, "Mesa"}, {860, "Flagstaff"}}},
      {"AR", "Arkansas", -92.4, {{716, 729}}, {{722, "Little Rock"}, {727, "Fayetteville"}, {729, "Fort Smith"}}},
      {"CA", "California", -119.4, {{900, 961}},
       {{900, "Los Angeles"}, {921, "San Diego"}, {941, "San Francisco"}, {951, "San Jose"}, {958, "Sacramento"},
        {937, "Fresno"}, {946, "Oakland"}}},
      {"CO", "Colorado", -105.5, {{800, 816}}, {{802, "Denver"}, {809, "Colorado Springs"}, {803, "Boulder"}}},
      {"CT", "Connecticut", -72.7, {{60, 69}}, {{61, "Hartford"}, {65, "New Haven"}, {66, "Bridgeport"}, {69, "Stamford"}}},
      {"DE", "Delaware", -75.5, {{197, 199}}, {{198, "Wilmington"}, {199, "Dover"}, {197, "Newark"}}},
      {"DC", "District of Columbia", -77.0, {{200, 205}}, {{200, "Washington"}}},
      {"FL", "Florida", -81.7, {{320, 349}},
       {{322, "Jacksonville"}, {331, "Miami"}, {336, "Tampa"}, {328, "Orlando"}, {323, "Tallahassee"}}},
      {"GA", "Georgia", -83.4, {{300, 319}, {398, 399}}, {{303, "Atlanta"}, {314, "Savannah"}, {309, "Augusta"}, {312, "Macon"}}},
      {"HI", "Hawaii", -157.0, {{967, 968}}, {{968, "Honolulu"}, {967, "Hilo"}}},
      {"ID", "Idaho", -114.6, {{832, 838}}, {{837, "Boise"}, {834, "Idaho Falls"}, {832, "Pocatello"}}},
      {"IL", "Illinois", -89.2, {{600, 629}}, {{606, "Chicago"}, {627, "Springfield"}, {616, "Peoria"}, {611, "Rockford"}}},
      {"IN", "Indiana", -86.3, {{460, 479}}, {{462, "Indianapolis"}, {468, "Fort Wayne"}, {477, "Evansville"}, {466, "South Bend"}}},
      {"IA", "Iowa", -93.5, {{500, 528}}, {{503, "Des Moines"}, {524, "Cedar Rapids"}, {528, "Davenport"}}},
      {"KS", "Kansas", -98.4, {{660, 679}}, {{672, "Wichita"}, {666, "Topeka"}, {662, "Overland Park"}}},
      {"KY", "Kentucky", -85.3, {{400, 427}}, {{402, "Louisville"}, {405, "Lexington"}, {421, "Bowling Green"}}},
      {"LA", "Louisiana", -91.9, {{700, 714}}, {{701, "New Orleans"}, {708, "Baton Rouge"}, {711, "Shreveport"}}},
      {"ME", "Maine", -69.2, {{39, 49}}, {{41, "Portland"}, {44, "Bangor"}, {43, "Augusta"}, {42, "Lewiston"}}},
      {"MD", "Maryland", -76.8, {{206, 219}}, {{212, "Baltimore"}, {214, "Annapolis"}, {217, "Frederick"}}},
      {"MA", "Massachusetts", -71.8, {{10, 27}}, {{21, "Boston"}, {16, "Worcester"}, {11, "Springfield"}, {22, "Cambridge"}}},
      {"MI", "Michigan", -84.5, {{480, 499}}, {{482, "Detroit"}, {495, "Grand Rapids"}, {489, "Lansing"}, {481, "Ann Arbor"}}},
      {"MN", "Minnesota", -94.3, {{550, 567}}, {{554, "Minneapolis"}, {551, "Saint Paul"}, {558, "Duluth"}, {559, "Rochester"}}},
      {"MS", "Mississippi", -89.7, {{386, 397}}, {{392, "Jackson"}, {395, "Gulfport"}, {394, "Hattiesburg"}}},
      {"MO", "Missouri", -92.5, {{630, 658}}, {{631, "Saint Louis"}, {641, "Kansas City"}, {658, "Springfield"}, {652, "Columbia"}}},
      {"MT", "Montana", -109.6, {{590, 599}}, {{591, "Billings"}, {598, "Missoula"}, {596, "Helena"}, {597, "Bozeman"}}},
      {"NE", "Nebraska", -99.8, {{680, 693}}, {{681, "Omaha"}, {685, "Lincoln"}, {688, "Grand Island"}}},
      {"NV", "Nevada", -116.6, {{889, 898}}, {{891, "Las Vegas"}, {895, "Reno"}, {890, "Henderson"}, {897, "Carson City"}}},
      {"NH", "New Hampshire", -71.6, {{30, 38}}, {{31, "Manchester"}, {30, "Nashua"}, {33, "Concord"}}},
      {"NJ", "New Jersey", -74.7, {{70, 89}}, {{71, "Newark"}, {73, "Jersey City"}, {86, "Trenton"}, {75, "Paterson"}}},
      {"NM", "New Mexico", -106.1, {{870, 884}}, {{871, "Albuquerque"}, {875, "Santa Fe"}, {880, "Las Cruces"}}},
      {"NY", "New York", -75.5, {{100, 149}},
       {{100, "New York"}, {112, "Brooklyn"}, {142, "Buffalo"}, {146, "Rochester"}, {122, "Albany"}, {132, "Syracuse"}}},
      {"NC", "North Carolina", -79.4, {{270, 289}}, {{282, "Charlotte"}, {276, "Raleigh"}, {274, "Greensboro"}, {277, "Durham"}}},
      {"ND", "North Dakota", -100.5, {{580, 588}}, {{581, "Fargo"}, {585, "Bismarck"}, {582, "Grand Forks"}}},
      {"OH", "Ohio", -82.8, {{430, 459}},
       {{432, "Columbus"}, {441, "Cleveland"}, {452, "Cincinnati"}, {436, "Toledo"}, {443, "Akron"}}},
      {"OK", "Oklahoma", -97.5, {{730, 749}}, {{731, "Oklahoma City"}, {741, "Tulsa"}, {730, "Norman"}}},
      {"OR", "Oregon", -120.6, {{970, 979}}, {{972, "Portland"}, {973, "Salem"}, {974, "Eugene"}, {977, "Bend"}}},
      {"PA", "Pennsylvania", -77.8, {{150, 196}},
       {{191, "Philadelphia"}, {152, "Pittsburgh"}, {171, "Harrisburg"}, {181, "Allentown"}, {165, "Erie"}}},
      {"RI", "Rhode Island", -71.5, {{28, 29}}, {{29, "Providence"}, {28, "Warwick"}}},
      {"SC", "South Carolina", -80.9, {{290, 299}}, {{292, "Columbia"}, {294, "Charleston"}, {296, "Greenville"}}},
      {"SD", "South Dakota", -100.2, {{570, 577}}, {{571, "Sioux Falls"}, {577, "Rapid City"}, {575, "Pierre"}}},
      {"TN", "Tennessee", -86.3, {{370, 385}}, {{372, "Nashville"}, {381, "Memphis"}, {379, "Knoxville"}, {374, "Chattanooga"}}},
      {"TX", "Texas", -99.3, {{750, 799}, {885, 885}},
       {{770, "Houston"}, {752, "Dallas"}, {782, "San Antonio"}, {787, "Austin"}, {799, "El Paso"}, {761, "Fort Worth"}}},
      {"UT", "Utah", -111.7, {{840, 847}}, {{841, "Salt Lake City"}, {846, "Provo"}, {844, "Ogden"}}},
      {"VT", "Vermont", -72.7, {{50, 59}}, {{54, "Burlington"}, {56, "Montpelier"}, {57, "Rutland"}}},
      {"VA", "Virginia", -78.8, {{220, 246}},
       {{234, "Virginia Beach"}, {232, "Richmond"}, {235, "Norfolk"}, {222, "Arlington"}, {240, "Roanoke"}}},
      {"WA", "Washington", -120.5, {{980, 994}}, {{981, "Seattle"}, {992, "Spokane"}, {984, "Tacoma"}, {985, "Olympia"}}},
      {"WV", "West Virginia", -80.6, {{247, 268}}, {{253, "Charleston"}, {257, "Huntington"}, {265, "Morgantown"}}},
      {"WI", "Wisconsin", -89.8, {{530, 549}}, {{532, "Milwaukee"}, {537, "Madison"}, {543, "Green Bay"}}},
      {"WY", "Wyoming", -107.5, {{820, 831}}, {{820, "Cheyenne"}, {826, "Casper"}, {828, "Sheridan"}}},
  };
  return list;
}

}  // namespace demo
