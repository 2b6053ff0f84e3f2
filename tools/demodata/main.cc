// demodata: writes the data files of a demo installation.
//
//   demodata demo ROOT
//       a handful of communities in Catalan towns with a year of expenses
//       and collections, for trying the module by hand;
//   demodata scale ROOT --communities N --owners M --payments P
//                       --collections C [--seed S]
//       a large generated portfolio for benchmarks.
//
// ROOT is a host folder holding ddf/ (the file definitions); the files are
// written to ROOT/DADES/, replacing those there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/demodata/data_writer.h"

namespace {

using demodata::Cp850;
using demodata::Date;

constexpr char kUsage[] =
    "usage: demodata demo ROOT\n"
    "       demodata scale ROOT --communities N --owners M --payments P --collections C "
    "[--seed S]\n";

struct ExpenseKind {
  const char* code;
  const char* description;
};

const ExpenseKind kKinds[] = {
    {"NE", "Neteja escala"},
    {"AS", "Manteniment ascensor"},
    {"LL", "Electricitat comunes"},
    {"AI", "Aigua comunit\xc3\xa0ria"},
    {"SE",
     "Asseguran\xc3\xa7"
     "a edifici"},
    {"MA", "Manteniment general"},
    {"JA", "Jardineria"},
    {"RE", "Reparacions"},
    {"BA", "Despeses banc\xc3\xa0ries"},
    {"HO", "Honoraris administraci\xc3\xb3"},
};

void AddCommonTypes(demodata::Dataset* d) {
  for (const ExpenseKind& k : kKinds)
    d->expense_types.push_back(demodata::ExpenseType(k.code, Cp850(k.description)));
  // Fixed receipt types 1..8 and two additional ones (codes 10 and 11).
  const int16_t flags[9] = {0, 1, 1, 0, 1, 0, 0, 1, 0};
  for (uint8_t k = 1; k <= 8; ++k) d->receipt_types.push_back(demodata::ReceiptType(k, flags[k]));
  d->receipt_types.push_back(
      demodata::ReceiptType(static_cast<uint8_t>(demodata::Code(10, 2)[0]), 1));
  d->receipt_types.push_back(
      demodata::ReceiptType(static_cast<uint8_t>(demodata::Code(11, 2)[0]), 0));
}

int Demo(const std::string& root) {
  demodata::Dataset d;
  AddCommonTypes(&d);

  struct Town {
    const char* name;
    int32_t fee;
    int16_t rate;
    std::string previous;
    const char* groups[8];
    const char* tax;
    const char* assignment;
  };
  const Town towns[] = {
      {"C. MAJOR, 24 (SABADELL)",
       1500,
       0,
       Date(2025, 12, 31),
       {"", "", "ESCALA A", "ESCALA B", "ASCENSOR", "LOCALS", "", ""},
       "ESH08123456",
       "NEBLLAAIASEAMAAASDHOAJAARE"
       "ABAA"},
      {"ROSES, 7 (TERRASSA)*EDIFICI LES",
       1800,
       0,
       Date(2025, 6, 30),
       {"", "", "ASCENSOR", "GARATGE", "", "", "", ""},
       "ESH08654321",
       "NEAASBLLAAIASEAHOBMAA"},
      {"PL. DE LA VILA, 3 (GRANOLLERS)",
       2000,
       1,
       std::string(),
       {"", "", "P\xc3\x80RQUING", "", "", "", "", ""},
       "ESH08987654",
       "NEALLAHOA"},
      {"AV. DEL PARC, 112 (MATAR\xc3\x93)",
       1250,
       0,
       Date(2026, 6, 30),
       {"", "", "ESCALA 1", "ESCALA 2", "ESCALA 3", "ASCENSORS", "TERRASSA", "GARATGE"},
       "ESH17222333",
       "NEALLAASFHOAJAGRE"
       "A"},
      {"RBLA. CATALUNYA, 45 (ST. CUGAT)",
       2200,
       0,
       Date(2025, 12, 31),
       {"", "", "ASCENSOR", "", "", "", "", ""},
       "ESB08111222",
       "NEAASBHOA"},
  };
  const char* people[] = {"PUJOL GARCIA*JOAN",
                          "FERRER ROCA*MONTSERRAT",
                          "VIDAL SOLER*JORDI",
                          "MART\xc3\x8d CASALS*N\xc3\x9aRIA",
                          "SERRA BOSCH*PERE",
                          "FONT MIR\xc3\x93*LAIA",
                          "CASAS PLANA*ORIOL",
                          "GIM\xc3\x89NEZ L\xc3\x93PEZ*ANNA",
                          "BATLLE COLL*MARC",
                          "ROVIRA SALA*CLARA",
                          "TORRES VILA*ENRIC",
                          "CAMPS ROIG*MERC\xc3\x88",
                          "ASSOCIACI\xc3\x93 VE\xc3\x8fNAL*L'",
                          "SOLER, PINTURES SL"};
  const char* flats[] = {"BAIXOS 1a", "BAIXOS 2a", "1r 1a", "1r 2a",       "2n 1a",   "2n 2a",
                         "3r 1a",     "3r 2a",     "4t 1a", "\xc3\x80TIC", "LOCAL 1", "LOCAL 2"};
  std::mt19937 rng(2026);
  int person = 0;
  for (int c = 1; c <= 5; ++c) {
    const Town& t = towns[c - 1];
    demodata::CommunitySpec community;
    community.code = c;
    community.name = Cp850(t.name);
    community.monthly_fee = t.fee;
    community.rate_index = t.rate;
    community.previous_settlement = t.previous;
    for (int g = 2; g <= 7; ++g) community.groups[static_cast<size_t>(g)] = Cp850(t.groups[g]);
    community.tax_id = t.tax;
    d.communities.push_back(demodata::Community(community));
    d.assignments.push_back(demodata::GroupAssignment(c, t.assignment));

    const int owners = 6 + (c * 3) % 7;
    for (int f = 1; f <= owners; ++f) {
      demodata::OwnerSpec o;
      o.community = c;
      o.flat = f;
      o.name = Cp850(people[person++ % (sizeof people / sizeof *people)]);
      o.flat_designation = Cp850(flats[(f - 1) % 12]);
      if (f % 3 == 0) o.fixed_amounts[1] = 4500 + 100 * f;  // an unpaid quota
      if (f % 4 == 0) o.fixed_amounts[4] = -1200;           // a credit
      o.extra_types[1] = 10;
      o.extra_amounts[1] = (f % 5 == 0) ? 3000 : 0;
      d.owners.push_back(demodata::Owner(o));
      // A monthly quota collected on the 5th; one late payment with interest.
      for (int m = 1; m <= 12; ++m) {
        if (m == 12 && f % 2 == 0) continue;
        int32_t quota = 6000 + 500 * (f % 4);
        d.collections.push_back(demodata::Collection(c, f, Date(2026, m, 5), quota, 0, 'C'));
      }
      if (f == 2)
        d.collections.push_back(demodata::Collection(c, f, Date(2026, 7, 20), 1575, 75, 'I'));
      if (f == 3)
        d.collections.push_back(demodata::Collection(c, f, Date(2026, 3, 9), 6000, 0, 'R'));
    }

    // Expenses: the group of each type from the assignment text.
    auto group_of = [&](const char* code) {
      std::string a = t.assignment;
      for (size_t i = 0; i + 2 < a.size(); i += 3) {
        if (a.compare(i, 2, code) == 0) return static_cast<int>(a[i + 2] - 'A') + 1;
      }
      return 1;
    };
    auto pay = [&](int m, int day, const char* code, const char* description, int32_t amount) {
      d.payments.push_back(demodata::Payment(c, Date(2026, m, day), code, Cp850(description),
                                             amount, 'N', group_of(code)));
    };
    for (int m = 1; m <= 12; ++m) {
      pay(m, 2, "NE", "Neteja escala", 28000 + 500 * c);
      if (std::string(t.assignment).find("AS") != std::string::npos) {
        pay(m, 10, "AS", "Manteniment ascensor", 14520);
      }
      if (m % 2 == 0)
        pay(m, 15, "LL", "Electricitat comunes", 9000 + static_cast<int32_t>(rng() % 4000));
      if (m % 3 == 0)
        pay(m, 20, "AI", "Aigua comunit\xc3\xa0ria", 6500 + static_cast<int32_t>(rng() % 2000));
      pay(m, 28, "BA", "Comissions banc", 350);
    }
    pay(3, 1, "SE",
        "Asseguran\xc3\xa7"
        "a edifici",
        98000 + 1000 * c);
    pay(5, 14, "MA", "Revisi\xc3\xb3 extintors", 16335);
    pay(9, 22, "RE", "Reparaci\xc3\xb3 porta entrada", 41200);
    // An ungrouped entry (no expense type) and one after the demo report date.
    d.payments.push_back(demodata::Payment(c, Date(2026, 10, 7), "  ",
                                           Cp850("Pintura vest\xc3\xad"
                                                 "bul"),
                                           125000, 'N', 1));
    d.payments.push_back(
        demodata::Payment(c, Date(2026, 12, 30), "NE", Cp850("Neteja extra festes"), 9000, 'N', 1));
    // Particular expenses charged to single flats.
    d.payments.push_back(demodata::Payment(c, Date(2026, 4, 11), "RE",
                                           Cp850("Reparaci\xc3\xb3 persiana"), 8470, 'S', 2));
    d.payments.push_back(
        demodata::Payment(c, Date(2026, 8, 3), "RE", Cp850("Canvi de pany"), 6050, 'S', 2));
    d.payments.push_back(demodata::Payment(c, Date(2026, 6, 18), "AI", Cp850("Comptador d'aigua"),
                                           12100, 'S', owners));
  }
  std::string error;
  if (!demodata::WriteDataset(root, root + "ddf/", d, &error)) {
    std::fprintf(stderr, "demodata: %s\n", error.c_str());
    return 1;
  }
  std::printf("demodata: %zu communities, %zu owners, %zu payments, %zu collections in %sDADES\n",
              d.communities.size(), d.owners.size(), d.payments.size(), d.collections.size(),
              root.c_str());
  return 0;
}

int Scale(const std::string& root, long communities, long owners, long payments, long collections,
          unsigned long seed) {
  if (communities < 1 || communities > 9999 || owners < communities || payments < 0 ||
      collections < 0) {
    std::fprintf(stderr, "demodata: need 1..9999 communities and at least one owner each\n");
    return 2;
  }
  demodata::Dataset d;
  AddCommonTypes(&d);
  std::mt19937_64 rng(seed);
  auto uniform = [&](long n) { return static_cast<long>(rng() % static_cast<unsigned long>(n)); };
  std::vector<int> flats_of(static_cast<size_t>(communities) + 1);
  for (long c = 1; c <= communities; ++c) {
    demodata::CommunitySpec community;
    community.code = static_cast<int>(c);
    community.name = "COMUNITAT " + std::to_string(c);
    community.monthly_fee = 1000 + static_cast<int32_t>(uniform(2000));
    community.previous_settlement = Date(2025, 12, 31);
    community.groups[2] = "ESCALA A";
    community.groups[3] = "ASCENSOR";
    community.tax_id = "ESH08" + std::to_string(100000 + c);
    d.communities.push_back(demodata::Community(community));
    d.assignments.push_back(demodata::GroupAssignment(static_cast<int>(c), "NEAASCLLAHOA"));
    long n = owners / communities + (c <= owners % communities ? 1 : 0);
    flats_of[static_cast<size_t>(c)] = static_cast<int>(n > 9999 ? 9999 : n);
    for (long f = 1; f <= flats_of[static_cast<size_t>(c)]; ++f) {
      demodata::OwnerSpec o;
      o.community = static_cast<int>(c);
      o.flat = static_cast<int>(f);
      o.name = "PROPIETARI " + std::to_string(f) + "*" + std::to_string(c);
      o.flat_designation = "PIS " + std::to_string(f);
      o.fixed_amounts[1] = static_cast<int32_t>(uniform(5000));
      d.owners.push_back(demodata::Owner(o));
    }
  }
  const char* types[] = {"NE", "AS", "LL", "AI", "SE", "MA", "  "};
  d.payments.reserve(static_cast<size_t>(payments));
  for (long i = 0; i < payments; ++i) {
    int c = static_cast<int>(1 + uniform(communities));
    std::string date =
        Date(2026, static_cast<int>(1 + uniform(12)), static_cast<int>(1 + uniform(28)));
    int32_t amount = static_cast<int32_t>(100 + uniform(200000));
    if (i % 10 == 0) {
      int flat = static_cast<int>(1 + uniform(flats_of[static_cast<size_t>(c)]));
      d.payments.push_back(demodata::Payment(c, date, "RE", "Reparacio", amount, 'S', flat));
    } else {
      const char* t = types[uniform(7)];
      d.payments.push_back(
          demodata::Payment(c, date, t, "Despesa", amount, 'N', static_cast<int>(1 + uniform(3))));
    }
  }
  d.collections.reserve(static_cast<size_t>(collections));
  for (long i = 0; i < collections; ++i) {
    int c = static_cast<int>(1 + uniform(communities));
    int flat = static_cast<int>(1 + uniform(flats_of[static_cast<size_t>(c)]));
    std::string date =
        Date(2026, static_cast<int>(1 + uniform(12)), static_cast<int>(1 + uniform(28)));
    d.collections.push_back(demodata::Collection(c, flat, date,
                                                 static_cast<int32_t>(1000 + uniform(20000)), 0,
                                                 uniform(10) == 0 ? 'I' : 'C'));
  }
  std::string error;
  if (!demodata::WriteDataset(root, root + "ddf/", d, &error)) {
    std::fprintf(stderr, "demodata: %s\n", error.c_str());
    return 1;
  }
  std::printf("demodata: %zu communities, %zu owners, %zu payments, %zu collections\n",
              d.communities.size(), d.owners.size(), d.payments.size(), d.collections.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("demodata " TELVORAN_VERSION);
    return 0;
  }
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string mode = argv[1];
  std::string root = argv[2];
  if (!root.empty() && root.back() != '/') root += '/';
  if (mode == "demo" && argc == 3) return Demo(root);
  if (mode == "scale") {
    long n[4] = {-1, -1, -1, -1};
    unsigned long seed = 1;
    const char* names[4] = {"--communities", "--owners", "--payments", "--collections"};
    for (int i = 3; i + 1 < argc; i += 2) {
      bool known = false;
      for (int k = 0; k < 4; ++k) {
        if (std::strcmp(argv[i], names[k]) == 0) {
          n[k] = std::strtol(argv[i + 1], nullptr, 10);
          known = true;
        }
      }
      if (std::strcmp(argv[i], "--seed") == 0) {
        seed = std::strtoul(argv[i + 1], nullptr, 10);
        known = true;
      }
      if (!known) {
        std::fprintf(stderr, "demodata: unknown option %s\n", argv[i]);
        return 2;
      }
    }
    return Scale(root, n[0], n[1], n[2], n[3], seed);
  }
  std::fputs(kUsage, stderr);
  return 2;
}
