#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "ai_players/host/board.h"

using namespace ai_players;
using namespace ai_players::board;
using namespace ai_players::common;

namespace {

constexpr const char* kTwins = "7k/8/8/R7/8/8/8/RN3NK1 w - - 0 1";
constexpr const char* kQueens = "2k5/8/8/8/4Q2Q/8/8/K6Q w - - 0 1";

MovePtr find(const MoveList& moves, std::string_view coord) {
  for (const MovePtr& m : moves)
    if (m->to_coord() == coord) return m;
  return nullptr;
}

void play(Board& b, std::initializer_list<std::string_view> texts) {
  for (std::string_view t : texts) b.make_internal_move(*b.parse_move(t));
}

std::vector<std::string> sans(const Board& b) {
  const MoveList moves = b.legal_moves();
  std::vector<std::string> out;
  for (const MovePtr& m : moves) out.push_back(m->to_SAN(moves));
  return out;
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

std::string error_of(std::string_view fen) {
  try {
    Board b(fen);
  } catch (const FenError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(BoardFen, DefaultBoardIsTheInitialPosition) {
  const Board b;
  EXPECT_EQ(b.export_FEN(), FEN_New_Game);
  EXPECT_EQ(b.get_piece(square(4, 8)) + b.get_piece(G1) + b.get_piece(square(5, 4)), Knight - Queen);
  EXPECT_EQ(std::accumulate(b.posTable.begin(), b.posTable.end(), 0), 0);
  const std::string text = b.to_text();
  EXPECT_NE(text.find("8 | r n b q k b n r |"), std::string::npos);
  EXPECT_NE(text.find("1 | R N B Q K B N R |"), std::string::npos);
}

TEST(BoardFen, RoundTripsAndReadsEveryField) {
  for (const char* fen : {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                          "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
                          "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
                          "4k2r/8/8/8/8/8/8/R3K3 b Qk - 37 61"})
    EXPECT_EQ(Board(fen).export_FEN(), fen);

  const Board b("rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3");
  EXPECT_EQ(b.ep_square, square(6, 6));

  const Board mid("4k2r/8/8/8/8/8/8/R3K3 b kQ - 37 61");  // castling letters in any order
  EXPECT_EQ(mid.castling, "Qk");
  EXPECT_EQ(mid.MoveNumber, 61);

  EXPECT_EQ(Board("4k3/8/8/8/8/8/8/4K3 b - -").export_FEN(), "4k3/8/8/8/8/8/8/4K3 b - - 0 1");
}

TEST(BoardFen, RejectsMalformedAndImpossiblePositions) {
  const std::pair<const char*, const char*> cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0", "expected 6 fields, found 5"},
      {"", "expected 6 fields, found 0"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1", "7 ranks instead of 8"},
      {"rnbqkbnr/pppppppp/8/8/8/2P6/PP1PPPPP/RNBQKBNR w KQkq - 0 1", "rank 3 has 9 squares"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBXKBNR w KQkq - 0 1", "bad piece letter 'X' in rank 1"},
      {"rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQ - 0 1", "Black has no king"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBKKBNR w kq - 0 1", "White has 2 kings"},
      {"4k2P/8/8/8/8/8/8/4K3 w - - 0 1", "pawn on h8"},
      {"4k3/8/8/8/8/8/8/4K3 x - - 0 1", "side to move must be w or b, found 'x'"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkx - 0 1", "bad castling field 'KQkx'"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KKq - 0 1", "bad castling field 'KKq'"},
      {"r3k2r/8/8/8/8/8/8/R3K1R1 w K - 0 1", "castling right K without king on e1 and rook on h1"},
      {"r3k2r/8/8/8/8/8/8/R2K3R w Q - 0 1", "castling right Q without king on e1 and rook on a1"},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d5 0 1", "bad en-passant square 'd5'"},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - c6 0 1", "bad en-passant square 'c6'"},
      {"4k3/8/8/8/8/8/8/4K3 w - - x 1", "halfmove clock 'x' is not a number"},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1a", "full-move number '1a' is not a number"},
      {"4k3/8/8/8/8/8/4q3/4K3 b - - 0 1", "the side not to move is in check"},
  };
  for (const auto& [fen, reason] : cases) {
    SCOPED_TRACE(fen);
    EXPECT_EQ(error_of(fen), "invalid FEN (" + std::string(reason) + "): " + fen);
  }
}

TEST(MoveGeneration, CastlingNeedsRightsEmptyAndUnattackedPath) {
  const MoveList kiwi = Board("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1").legal_moves();
  const MovePtr short_castle = find(kiwi, "e1g1");
  ASSERT_TRUE(short_castle);
  EXPECT_TRUE(short_castle->IsCastlingMove && short_castle->Piece == King && short_castle->ToSQ == G1);
  EXPECT_TRUE(find(kiwi, "e1c1"));

  // A rook on f2 guards f1: no short castling; b1 may be attacked for the long one.
  const MoveList guarded = Board("1r2k3/8/8/8/8/8/5r2/R3K2R w KQ - 0 1").legal_moves();
  EXPECT_FALSE(find(guarded, "e1g1"));
  EXPECT_TRUE(find(guarded, "e1c1"));
  // In check: no castling at all; a piece on b1 blocks the long one.
  EXPECT_FALSE(find(Board("4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1").legal_moves(), "e1c1"));
  EXPECT_FALSE(find(Board("4k3/8/8/8/8/8/8/RN2K2R w KQ - 0 1").legal_moves(), "e1c1"));
  EXPECT_FALSE(find(Board("4k3/8/8/8/8/8/8/R3K2R w Q - 0 1").legal_moves(), "e1g1"));

  Board b("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  b.make_internal_move(*make_move("e1g1", b.legal_moves()));
  EXPECT_EQ(b.export_FEN(), "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1");
  b.make_internal_move(*make_move("a8a1", b.legal_moves()));  // the capture takes White's last right
  EXPECT_EQ(b.export_FEN(), "4k2r/8/8/8/8/8/8/r4RK1 w k - 0 2");
  play(b, {"Rb1", "O-O"});
  EXPECT_EQ(b.export_FEN(), "5rk1/8/8/8/8/8/8/rR4K1 w - - 2 3");
}

TEST(MoveGeneration, EnPassantCapturesThePassedPawnUnlessPinned) {
  Board b;
  play(b, {"e4", "a6", "e5", "d5"});
  EXPECT_EQ(b.ep_square, square(4, 6));
  const MoveList moves = b.legal_moves();
  const MovePtr ep = find(moves, "e5d6");
  ASSERT_TRUE(ep);
  EXPECT_TRUE(ep->IsEnPassant);
  EXPECT_EQ(ep->Captured, -Pawn);
  EXPECT_EQ(ep->to_SAN(moves), "exd6");
  b.make_internal_move(*ep);
  EXPECT_EQ(b.get_piece(square(4, 5)), 0);
  EXPECT_EQ(b.get_piece(square(4, 6)), Pawn);
  EXPECT_EQ(b.halfmove_clock, 0);
  // The right lapses after one move.
  play(b, {"a5", "a3", "a4"});
  EXPECT_EQ(b.ep_square, 0);
  // Both pawns leave the fifth rank: the king would stand in the rook's line.
  EXPECT_FALSE(find(Board("8/8/8/KPp4r/8/8/8/7k w - c6 0 1").legal_moves(), "b5c6"));
  EXPECT_TRUE(find(Board("8/8/8/1Pp4r/K7/8/8/7k w - c6 0 1").legal_moves(), "b5c6"));
}

TEST(MoveGeneration, PromotionsAreFourSignedMoves) {
  const MoveList white = Board("1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1").legal_moves();
  for (const auto& [coord, piece] : std::vector<std::pair<std::string, int>>{
           {"a7a8q", Queen}, {"a7a8r", Rook}, {"a7a8b", Bishop}, {"a7a8n", Knight}, {"a7b8q", Queen}}) {
    const MovePtr m = find(white, coord);
    ASSERT_TRUE(m) << coord;
    EXPECT_TRUE(m->IsPromotion && m->ExtraAddedPiece == piece && m->Piece == Pawn) << coord;
  }
  EXPECT_EQ(find(white, "a7b8n")->Captured, -Knight);

  Board black("4k3/8/8/8/8/8/p7/4K3 b - - 0 9");
  const MovePtr under = make_move("a2a1n", black.legal_moves());
  EXPECT_EQ(under->ExtraAddedPiece, -Knight);
  black.make_internal_move(*under);
  EXPECT_EQ(black.get_piece(A1), -Knight);
  EXPECT_EQ(black.MoveNumber, 10);  // counts up after Black's move
}

TEST(MoveObjects, CoordinateLookupCopiesOrExplains) {
  const Board b;
  const MoveList moves = b.legal_moves();
  const MovePtr found = make_move("g1f3", moves);
  EXPECT_NE(found.get(), find(moves, "g1f3").get());
  EXPECT_TRUE(found->FromSQ == G1 && found->ToSQ == square(6, 3) && found->Piece == Knight);
  EXPECT_EQ(found->origin.get(), moves.front()->origin.get());  // one snapshot per generation
  try {
    Move bad("e2e5", moves);
    FAIL() << "e2e5 accepted";
  } catch (const IllegalMoveError& e) {
    EXPECT_NE(std::string(e.what()).find("\"e2e5\" is not among the legal moves"), std::string::npos);
  }

  // Moves of another position are refused by the board.
  Board other;
  other.make_internal_move(*found);
  EXPECT_THROW(other.make_internal_move(*find(moves, "e2e4")), IllegalMoveError);
}

TEST(San, WritesPiecesCapturesPromotionsAndCastling) {
  const auto kiwi = sans(Board("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));
  for (const char* san : {"O-O", "O-O-O", "dxe6", "d6", "Bxa6", "Qxf6", "gxh3", "Nxf7", "Kf1"})
    EXPECT_TRUE(contains(kiwi, san)) << san;

  // Knights on b1 and f1 differ by file, rooks on a1 and a5 by rank.
  const auto dis = sans(Board(kTwins));
  for (const char* san : {"Nbd2", "Nfd2", "R1a3", "R5a3", "Nc3", "Na3", "Rf5"}) EXPECT_TRUE(contains(dis, san)) << san;
  // Queens on e4, h4 and h1 all reach e1.
  const auto queens = sans(Board(kQueens));
  for (const char* san : {"Qh4e1", "Qee1", "Q1e1", "Q4h2", "Q1h2", "Qg3", "Qb7#"}) EXPECT_TRUE(contains(queens, san)) << san;

  const auto promo = sans(Board("1r5k/P7/8/8/8/8/8/K7 w - - 0 1"));
  EXPECT_TRUE(contains(promo, "a8=Q"));
  EXPECT_TRUE(contains(promo, "axb8=N"));
  EXPECT_TRUE(contains(promo, "axb8=Q+"));
}

TEST(San, MarksChecksAndMates) {
  Board b;
  play(b, {"f3", "e5", "g4"});
  EXPECT_TRUE(contains(sans(b), "Qh4#"));
  EXPECT_TRUE(contains(sans(Board("3k4/8/8/8/8/8/8/R3K3 w Q - 0 1")), "O-O-O+"));
  // A move without its position carries no mark.
  Move bare = *Board("4k3/8/8/8/8/8/8/R3K3 w - - 0 1").parse_move("Ra8");
  EXPECT_EQ(bare.to_SAN({}), "Ra8+");
  bare.origin.reset();
  EXPECT_EQ(bare.to_SAN({}), "Ra8");
}

TEST(San, ParsesSanAndCoordinateTexts) {
  Board b;
  EXPECT_EQ(b.parse_move("Nf3")->to_coord(), "g1f3");
  EXPECT_EQ(b.parse_move("e4")->to_coord(), "e2e4");
  EXPECT_EQ(b.parse_move(" Nc3!? ")->to_coord(), "b1c3");
  play(b, {"e4", "d5"});
  EXPECT_EQ(b.parse_move("exd5")->to_coord(), "e4d5");
  EXPECT_EQ(b.parse_move("Qh5+")->to_coord(), "d1h5");

  const Board castle("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  EXPECT_EQ(castle.parse_move("O-O")->to_coord(), "e8g8");
  EXPECT_EQ(castle.parse_move("0-0-0")->to_coord(), "e8c8");

  const Board promo("1r5k/P7/8/8/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(promo.parse_move("a8=Q")->to_coord(), "a7a8q");
  EXPECT_EQ(promo.parse_move("a8N")->to_coord(), "a7a8n");
  EXPECT_EQ(promo.parse_move("axb8=R+")->to_coord(), "a7b8r");
  EXPECT_EQ(promo.parse_move("a7a8b")->to_coord(), "a7a8b");

  const Board dis(kTwins);
  EXPECT_EQ(dis.parse_move("Nbd2")->FromSQ, B1);
  EXPECT_EQ(dis.parse_move("Nb1d2")->FromSQ, B1);  // over-qualified, still one move
  EXPECT_EQ(dis.parse_move("R5a3")->FromSQ, square(1, 5));
  EXPECT_EQ(dis.parse_move("Rf5")->FromSQ, square(1, 5));
  const Board queens(kQueens);
  EXPECT_EQ(queens.parse_move("Qh4e1")->FromSQ, square(8, 4));
  EXPECT_EQ(queens.parse_move("Qee1")->FromSQ, square(5, 4));
}

TEST(San, ExplainsWhyATextIsRefused) {
  const auto reason = [](const Board& b, std::string_view text) -> std::string {
    try {
      b.parse_move(text);
    } catch (const IllegalMoveError& e) {
      return e.what();
    }
    return "accepted";
  };
  const Board b;
  EXPECT_EQ(reason(b, "Nf6"), "illegal move \"Nf6\" in " + std::string(FEN_New_Game));
  EXPECT_EQ(reason(b, "O-O"), "illegal move \"O-O\" in " + std::string(FEN_New_Game));
  EXPECT_EQ(reason(b, "Zf3"), "unreadable move \"Zf3\"");
  EXPECT_EQ(reason(b, "+"), "unreadable move \"+\"");
  EXPECT_EQ(reason(Board(kTwins), "Nd2"), "ambiguous move \"Nd2\": could be Nbd2, Nfd2");
  EXPECT_EQ(reason(Board(kQueens), "Qhe1"), "ambiguous move \"Qhe1\": could be Q1e1, Qh4e1");
  EXPECT_EQ(reason(Board("1r5k/P7/8/8/8/8/8/K7 w - - 0 1"), "a8"),
            "move \"a8\" does not name the promotion piece");
}

TEST(GameEnd, MateAndStalemate) {
  Board fools;
  play(fools, {"f3", "e5", "g4", "Qh4"});
  EXPECT_TRUE(fools.in_check() && fools.is_checkmate() && !fools.is_stalemate());
  EXPECT_EQ(fools.game_end(), GameEnd::Checkmate);

  const Board stale("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
  EXPECT_TRUE(!stale.in_check() && stale.is_stalemate() && !stale.is_checkmate());
  EXPECT_EQ(stale.game_end(), GameEnd::Stalemate);

  EXPECT_EQ(Board().game_end(), GameEnd::None);
}

TEST(GameEnd, FiftyMovesCountsHalfMovesAndYieldsToMate) {
  Board b("4k3/8/8/8/8/8/8/R3K3 w - - 99 80");
  EXPECT_FALSE(b.is_fifty_move_draw());
  play(b, {"Ra2"});
  EXPECT_TRUE(b.is_fifty_move_draw());
  EXPECT_EQ(b.game_end(), GameEnd::FiftyMoves);
  // The move that reaches the hundredth half-move mates: the mate counts.
  EXPECT_EQ(Board("R5k1/5ppp/8/8/8/8/8/6K1 b - - 100 80").game_end(), GameEnd::Checkmate);
}

TEST(GameEnd, ThreefoldRepetitionSinceSetUp) {
  Board b;
  play(b, {"Nf3", "Nf6", "Ng1", "Ng8", "Nf3", "Nf6", "Ng1"});
  EXPECT_FALSE(b.is_threefold_repetition());
  play(b, {"Ng8"});  // the initial position for the third time
  EXPECT_TRUE(b.is_threefold_repetition());
  EXPECT_EQ(b.game_end(), GameEnd::Repetition);

  // Same placement, other castling rights: not a repetition of the start.
  Board k;
  play(k, {"Nf3", "Nf6", "Rg1", "Rg8", "Rh1", "Rh8", "Ng1", "Ng8", "Nf3", "Nf6", "Ng1", "Ng8"});
  EXPECT_FALSE(k.is_threefold_repetition());

  // An en-passant square no pawn can use does not make the position new.
  Board e("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  play(e, {"e4", "Kd8", "Kd1", "Ke8", "Ke1", "Kd8", "Kd1", "Ke8"});
  EXPECT_FALSE(e.is_threefold_repetition());
  play(e, {"Ke1"});
  EXPECT_TRUE(e.is_threefold_repetition());

  // A usable one does: after ...d5 the position differs from its repeats.
  Board u("4k3/3p4/8/4P3/8/8/8/4K3 b - - 0 1");
  play(u, {"d5", "Kd1", "Kd8", "Ke1", "Ke8", "Kd1", "Kd8", "Ke1", "Ke8"});
  EXPECT_FALSE(u.is_threefold_repetition());
}

TEST(GameEnd, InsufficientMaterial) {
  EXPECT_TRUE(Board("4k3/8/8/8/8/8/8/4K3 w - - 0 1").is_insufficient_material());
  EXPECT_TRUE(Board("4k3/8/8/8/8/8/8/4KN2 w - - 0 1").is_insufficient_material());
  EXPECT_TRUE(Board("4kb2/8/8/8/8/8/8/4K3 w - - 0 1").is_insufficient_material());
  EXPECT_TRUE(Board("4kb2/8/8/8/8/8/8/4K1B1 w - - 0 1").is_insufficient_material());  // f8, g1: dark
  EXPECT_FALSE(Board("4kb2/8/8/8/8/8/8/4KB2 w - - 0 1").is_insufficient_material());  // f1: light
  EXPECT_FALSE(Board("4k3/8/8/8/8/8/8/4KNN1 w - - 0 1").is_insufficient_material());
  EXPECT_FALSE(Board("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1").is_insufficient_material());
  EXPECT_FALSE(Board("4k3/8/8/8/8/8/8/4K2R w - - 0 1").is_insufficient_material());
  EXPECT_EQ(Board("4k3/8/8/8/8/8/8/4KN2 w - - 120 1").game_end(), GameEnd::InsufficientMaterial);
}
