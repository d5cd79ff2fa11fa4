#pragma once
// Row bands: kernels whose rows are independent (or need only a halo of one
// row) split an image into bands of rows and run the bands on a small pool
// of threads. The calling thread works on the first band itself and returns
// when every band is done, so a kernel keeps its own progress and stop
// protocol on the calling thread between calls.
//
// Every kernel gives the same result whatever the thread count; the count
// only decides speed. It comes from, in this order: SetRowBandThreads (the
// command line's --threads), LW_THREADS in the environment (a number from
// 1), and the cores this process may run on.
#include <functional>

// The threads a row-band call may use, at least 1.
[[nodiscard]] int GetRowBandThreads();
// Sets the count; 0 returns to LW_THREADS or the cores.
void SetRowBandThreads(int threads);

// The bands [0, rows) is split into: at most one per thread, none thinner
// than minRows (but at least one band when rows > 0).
[[nodiscard]] int CountRowBands(int rows, int minRows);

// Runs body(band, y0, y1) once for each of the CountRowBands(rows, minRows)
// bands, concurrently; band 0 runs on the caller. Bands are contiguous, in
// order and cover [0, rows). A call made from inside a band, or while another
// thread's call holds the pool, runs its bands one after another here.
void ForEachRowBand(int rows, int minRows, const std::function<void(int band, int y0, int y1)>& body);

// Runs body(band) for band 0 .. bands - 1, concurrently as above; for a
// kernel that fixed its bands once (RowBandOf) and keeps state per band.
// There may be more bands than threads: each thread takes the next band
// left, which evens out bands of uneven work.
void RunBands(int bands, const std::function<void(int band)>& body);
// Rows [y0, y1) of band b when [0, rows) is split into bands.
void RowBandOf(int rows, int bands, int b, int& y0, int& y1);
