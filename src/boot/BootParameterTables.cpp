#include "boot/BootParameter.hpp"
#include "foundation/WordArith.hpp"

#include <array>

// The bootstrapping settings of the presets and the cosine coefficients they
// name. The tests check every row against the others and every coefficient
// list against the cosine it approximates.

namespace Quelt {

namespace {

using P = ParameterPreset;

constexpr std::optional<std::pair<u64, u64>> kNoExtended = std::nullopt;

constexpr std::optional<std::pair<u64, u64>> ext(u64 e1, u64 e2) { return std::pair{e1, e2}; }

struct PresetGroup {
    std::vector<ParameterPreset> presets;
    BootPresetSettings settings;
};

// Columns: mult_before_s2c, mult_before_c2s, K, scale_before_remove_i,
// cosine_log_blocks, num_double_angle, arcsine_degree, cosine key K' and
// coefficient count, extended exponents.
const std::vector<PresetGroup> &presetGroups() {
    static const std::vector<PresetGroup> groups{
        {{P::FVa}, {5, 1, 16.0, false, 3, 2, 3, {8, 1}, 32, ext(20, 0)}},
        {{P::FVb}, {1, 16, 24.0, true, 2, 4, 3, {3, 1}, 16, ext(20, 7)}},
        {{P::FVc}, {1, 16, 24.0, true, 2, 4, 7, {3, 1}, 16, ext(20, 10)}},
        {{P::FGa}, {8, 1, 25.6, false, 2, 4, 3, {16, 5}, 16, ext(20, 6)}},
        {{P::FGb, P::FGbMS, P::FX, P::FGd, P::FGbL7, P::FGbSmall, P::FGh, P::FGe, P::FGeO},
         {8, 1, 28.0, false, 3, 3, 1, {7, 1}, 32, ext(20, 2)}},
        {{P::FGbSSE,        P::FGbSSEMS2, P::FGbSSEMS4,  P::FGbSSEMS8, P::FGbSSEMS16,
          P::FFF,           P::FFFMS,     P::FGf,        P::FGfSmall,  P::FGfO,
          P::FGfL7,         P::FGfOL7,    P::FGfL7Small, P::FGfL7Low,  P::FGfOL7Low,
          P::FGfL7SmallLow, P::FGSa,      P::FGSb,       P::FGSc,      P::FGSd},
         {8, 1, 128.0 / 11.0, false, 3, 1, 1, {128, 11}, 32, ext(20, 2)}},
        {{P::FTa}, {16, 11, 256.0 / 11.0, false, 3, 2, 1, {128, 11}, 32, kNoExtended}},
        {{P::FTb}, {8, 11, 256.0 / 11.0, false, 3, 2, 1, {128, 11}, 32, kNoExtended}},
        {{P::FGxCOEFF, P::FGCa},
         {2048, 1, 128.0 / 11.0, false, 3, 1, 1, {128, 11}, 32, kNoExtended}},
        {{P::FTxCOEFF}, {256, 1, 128.0 / 11.0, false, 3, 1, 1, {128, 11}, 32, kNoExtended}},
        {{P::Discrete_G8, P::Discrete_G8A, P::Discrete_G8A_Small, P::Discrete_G8A_OBTS,
          P::Discrete_G8B, P::Discrete_G8B_Small, P::Discrete_G8B_OBTS, P::Discrete_G10,
          P::Discrete_G10A, P::Discrete_G12},
         {2, 1, 16.0, false, 2, 3, 1, {4, 1}, 16, kNoExtended}},
        {{P::KAPLO_BTS, P::KAPLO_BTS_OUTSOURCE, P::KAPLO_BTS_SMALL},
         {64, 1, 12.0, false, 3, 1, 1, {12, 1}, 32, ext(20, 2)}},
        {{P::KAPLO_2_BTS, P::KAPLO_2_BTS_OUTSOURCE, P::KAPLO_2_BTS_SMALL, P::KAPLO_3_BTS,
          P::KAPLO_3_BTS_OUTSOURCE, P::KAPLO_3_BTS_OUTSOURCE_REAL, P::KAPLO_3_BTS_SMALL},
         {128, 1, 128.0 / 11.0, false, 3, 1, 1, {128, 11}, 32, ext(20, 2)}},
    };
    return groups;
}

} // namespace

const CosineCoefficientMap &getCoeffList() {
    // Built on first use; the initialisation of a function-local static is
    // thread-safe, and the map is only read afterwards.
    static const CosineCoefficientMap COEFF_LIST{
        {{{8, 1}, 32},
         {0.11196783453388673,
          0.9763349479470929,
          0.4498828065381572,
          -0.00649587041537214,
          -0.1215638012728833,
          1.10454067407608,
          -0.5021402868404795,
          -1.4201882559955505,
          -0.07920669114848251,
          0.7732805905954695,
          -0.03083481864159154,
          -0.4317689614414572,
          0.8190949097015037,
          -0.8945165857645948,
          0.3461343013868774,
          -0.09863097794663137,
          0.00623485552935894,
          -0.00249276747768824,
          0.00042279639701778,
          -6.099007802597e-05,
          7.91333802433e-06,
          -1.78725955459e-06,
          1.7980943579e-07,
          -1.614112868e-08,
          6.6250874e-10,
          -9.823099e-11,
          6.65852e-12,
          -4.1169e-13,
          1.715e-14,
          -6.25e-15,
          -1.079e-14,
          7.6e-15}},
        {{{2, 1}, 8},
         {0.22027690858, 0.57586758238, 0.62959420122, -0.53509989754, 0.14659065148,
          -0.040553825894, 0.0035334654687, -0.00021369455167}},
        {{{4, 1}, 16},
         {0.15750739248, 0.54265132252, -0.014166324166, 0.9272314686, -0.13275691351,
          -1.0966953296, 0.94116705574, -0.35689569885, 0.046123347554, -0.016073561946,
          0.0021072158786, -0.00021569699327, 1.8080564403e-05, -2.4964799306e-06, 1.453786523e-07,
          -7.2466529348e-09}},
        {{{16, 5}, 16},
         {-0.2478908435467452, -0.4828715610048647, -0.5549849512509988, 0.4766598555843949,
          0.6314054657337781, -0.8478086793849562, 0.2635587063253638, -0.04982429309802056,
          0.0033524548680811, -0.00066071865459337, 5.051464532867e-05, -3.08752382834e-06,
          1.5556943759e-07, -1.309119061e-08, 4.6818303e-10, -1.441075e-11}},
        {{{12, 1}, 32}, {0.0915790575476375,      -0.6248720574123013,    0.6833925802468249,
                         0.2878876234972818,      0.18711413815293296,    -0.1571991289377649,
                         0.28900555933528904,     0.34709823881500285,    -0.24285162314193293,
                         -1.7788395164199342,     1.1540768931577927,     0.5303265537276134,
                         0.15051560693828486,     0.15907473361933447,    -2.4375173662033145,
                         2.5765381239178184,      0.09868013150050489,    -0.7433555020114813,
                         0.729151120281588,       -0.39788734616430504,   0.2361428304385759,
                         -0.1825971488611337,     0.05862757124358867,    -0.015337634465909314,
                         0.0019276956889541993,   -0.000810841018015912,  0.0001517799997292016,
                         -2.5004588728324107e-05, 3.887904701331278e-06,  -1.0775778232854876e-06,
                         1.366914902363931e-07,   -1.6120101325017957e-08}},
        {{{128, 11}, 32},
         {-0.04653697117085729, -1.013935878569551,   0.07787482460087058, -0.3042717794812425,
          -0.10152945159374582, 0.29385572410494076,  1.0490867564151811,  0.8692691663879595,
          -0.01620660923021226, -1.479329019133984,   0.7725888579106561,  -0.2216515903420933,
          0.46768016419398917,  0.7701931549301166,   -2.558947326287993,  1.9992371515820255,
          0.2870521989142667,   -0.8170005452643974,  0.608780486525477,   -0.28639741489941484,
          0.13962245679724572,  -0.09543076685747572, 0.02745209496237532, -0.00653874686667744,
          0.00074016368217647,  -0.00028426699556559, 4.877108185959e-05,  -7.40797970722e-06,
          1.05790056754e-06,    -2.7070630154e-07,    3.175554475e-08,     -3.39968944e-09}},
        {{{7, 1}, 32},
         {-0.11960936315586364,
          -0.8696041127385477,
          -0.14991859912092537,
          -0.6052588911771579,
          -0.40917700663076817,
          0.6007255480358988,
          -0.3450265042508698,
          1.2216030566786156,
          -0.23500380845663735,
          -0.6194659229164614,
          0.948356875710018,
          -0.5530216081654258,
          0.2696859939238572,
          -0.16716058627442293,
          0.04035954347409151,
          -0.00772719429106966,
          0.00032212115978654,
          -8.917111458103e-05,
          1.06440763575e-05,
          -1.1012539335e-06,
          1.0204315335e-07,
          -1.670180326e-08,
          1.22535524e-09,
          -8.084603e-11,
          2.437e-12,
          -2.652e-13,
          3.98e-15,
          3.26e-15,
          3.5e-15,
          -8.7e-16,
          2.14e-15,
          -1.1e-16}},
        {{{3, 1}, 16},
         {-0.18121145350892778, -0.4246917423480836, -0.6243680096450764, 0.08534501253558036,
          0.6438793377415624, -0.6349353678450477, 0.16023104261940782, -0.02547133737838896,
          0.0014528370518685, -0.00024570381611739, 1.620811709676e-05, -8.5839716258e-07,
          3.753839882e-08, -2.74847721e-09, 8.565582e-11, -2.30264e-12}},
    };
    return COEFF_LIST;
}

std::optional<BootPresetSettings> getBootPresetSettings(ParameterPreset preset) {
    for (const PresetGroup &group : presetGroups())
        for (ParameterPreset member : group.presets)
            if (member == preset)
                return group.settings;
    return std::nullopt;
}

bool isOutsourcedBootPreset(ParameterPreset preset) {
    constexpr std::array kOutsourced{P::FGfO,
                                     P::FGfOL7,
                                     P::FGfOL7Low,
                                     P::FGeO,
                                     P::Discrete_G8A_OBTS,
                                     P::Discrete_G8B_OBTS,
                                     P::KAPLO_BTS_OUTSOURCE,
                                     P::KAPLO_2_BTS_OUTSOURCE,
                                     P::KAPLO_3_BTS_OUTSOURCE};
    for (ParameterPreset member : kOutsourced)
        if (member == preset)
            return true;
    return false;
}

} // namespace Quelt
