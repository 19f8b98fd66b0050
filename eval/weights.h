// Evaluation constants shared by the incremental sums of the board and the
// hand-written evaluation. They are plain globals (not constexpr) because the
// Texel tuner adjusts them in place.
#pragma once

#include "board/types.h"

constexpr int NOFSQUARES = 64;

// The Texel tuner prints its tables as "TCONST combEval name = { ... };".
// These two names let that text stand in this file as it is printed.
#define TCONST
using combEval = Score;

// Indexed by piece type (pawn .. king). The king's value never enters the sums.
extern Score pieceValue[6];
extern int phaseWeight[6];

// Packed piece-square values, written as a diagram from White's side: index 0
// is a8, 7 is h8, 63 is h1. A white piece on s reads entry s ^ 56, a black
// piece reads entry s.
extern Score pieceSquareScore[6][NOFSQUARES];

// ---------------------------------------------------------------------------
// Hand-written evaluation. Packed values are X(mg, eg); tables indexed by
// "relative rank" count ranks 0..7 from the owner's side. Tables written as
// diagrams use the layout of pieceSquareScore (index 0 = a8 from White's
// side; White reads s ^ 56, Black reads s).

// Pawn structure.
extern Score passedEnemyKing[8];      // x distance from the stop square to the enemy king
extern Score passedOwnKing[8];        // x distance from the stop square to the own king
extern Score passedPawnSquare[NOFSQUARES];
extern Score candidatePassed[2][8];   // [support >= levers][relative rank]
extern Score isolated[8];             // by file
extern Score doubled[8];              // by file
extern Score backward[8];             // by file
extern Score supported[8];            // by relative rank
extern Score phalanxBonus[8];         // by relative rank
extern Score isolatedNearKing;
extern Score doubledNearKing;
extern Score backwardNearKing;
// King pawn storm, [variant][file][distance of the nearest enemy pawn]; the
// variant is blocked + 2 x (both kings on one wing).
extern Score kingPawnTable[4][8][8];

// Pieces.
extern int shelterSquare[NOFSQUARES];  // middle game only
extern Score pinnedPiece[2][4];        // [square attacked by an enemy pawn][knight..queen]
extern Score discoveredAttack[4];      // knight..queen
extern Score outpost[2][2];            // [knight, bishop][defended by a pawn]
extern Score knightMobility[9];
extern Score bishopMobility[14];
extern Score rookMobility[15];
extern Score queenMobility[28];
extern Score rookSemiOpenFile;         // no own pawn, an enemy pawn on the file
extern Score rookOpenFile;
extern Score rookOnSeventh;
extern Score queenOnSeventh;
extern Score minorKingDistance;        // x distance to the own king
extern Score bishopBlockedPawns;       // x own blocked pawns on the bishop's square colour
extern Score bishopPair;
extern int kingAttackWeight[4];        // knight..queen

// Threats.
extern Score pushMobility;
extern Score minorHangingToHeavy;
extern Score rookAttackedByLesser;
extern Score queenAttacked;
extern Score safePawnPushThreat;
extern Score minorAttackedByPawn;
extern Score weakPawn;
extern Score pieceDefendedOnce;
extern Score minorAttackedByMinor;
extern Score passedStopControl;
extern Score minorBehindPawn;
extern Score pawnlessFlank;
extern Score spaceWeight[17];          // by the number of own men

// King danger (plain units, turned into a packed penalty at the end).
extern int queenCheckWeight;
extern int rookCheckWeight;
extern int bishopCheckWeight;
extern int knightCheckWeight;
extern int unsafeCheckWeight;
extern int weakKingZoneWeight;
extern int kingAttackCountWeight;
extern int noQueenDanger;
extern int flankAttackWeight;
extern int flankAttackOffset;
extern int pinnedNearKingWeight;
extern int kingDangerThreshold;

// Complexity (end-game part only) and tempo.
extern int complexityPawn;
extern int complexityBothFlanks;
extern int complexityPawnEnding;
extern int complexityOffset;
extern Score tempoBonus;

// A balance (material plus piece-square, middle-game part) at least this
// large in absolute value is left to the hand-written evaluation.
extern int handWrittenBalance;
