// The markup fuzz entry over truncations and flips of texts that use every
// construct, in every format, with and without the span hook, under a few
// option sets; truncations end texts inside markers, after a '~' and inside
// multi-byte characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

const char* const kTexts[] = {
    "= T\nA **b** //i// __u__ ^^s^^ ,,d,, ##m## [[http://a|l]] {{p.png|alt}} x~~ y\\\\z\n\n* a\n** b\n*# c\n"
    "; t : d\n: e\n\n:: f\n\n|= h | c |\n| 1 | {{{**2**}}} |\n\n{{{\np\tq\n}}}\n----\n==== end ====\n",
    "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 **\xF0\x9F\x98\x80** [[\xC3\xA9|\xE2\x82\xAC]] end~",
    "********** x\n##########\n;;;;;;;;; t\n::::::::::: i\n|a|b\n|c\nline\r\nCR\rend",
    "<<ext body>> <<<ext3 x>>>\n<<block\nin\n>>\n[[a [[b]] c]] {{i|{{j}}}} ]] }} [[\n\nx",
};

TEST(MarkupCorpus, EveryInputGivesAnAnswer) {
  int runs = 0;
  const uint8_t heads[][4] = {{4, 0, 0, 64}, {5, 0, 0, 8},  {3, 0, 0, 255}, {0x88, 0, 0, 0}, {0x88, 3, 0, 0},
                              {0, 0x9D, 0x21, 0x31}, {8, 0x80, 0xFF, 0x30}};
  for (const char* text : kTexts)
    for (const auto& head : heads) {
      std::vector<uint8_t> seed(head, head + 4);
      seed.insert(seed.end(), text, text + std::string(text).size());
      runs += run_corpus(seed, 40, 24);
    }
  // Every format once over the first text, buffers exactly sized.
  for (uint8_t id = 0; id < 9; ++id) {
    std::vector<uint8_t> seed = {id, 0, 0, 0};
    seed.insert(seed.end(), kTexts[0], kTexts[0] + std::string(kTexts[0]).size());
    runs += run_seed(seed) == 0;
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
