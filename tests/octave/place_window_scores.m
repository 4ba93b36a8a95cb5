function out = place_window_scores (scores, M, N, h, w)
  % PLACE_WINDOW_SCORES  Builds the expected M x N output of a window map from
  % scores(i, j), the score of the window whose top-left cell is (i, j)
  % (1-based, as from conv2(..., "valid")): each scored window's value goes to
  % its centre cell, every other cell is 0.
  out = zeros (M, N);
  rows = 11:(M - h - 10);   % 1-based top rows of the scored windows
  cols = 11:(N - w - 10);
  if (isempty (rows) || isempty (cols))
    return;
  end
  out(rows + floor (h / 2), cols + floor (w / 2)) = scores(rows, cols);
end
