// The event-capable integration behind ode45 and ode23: when the options
// name an Events or EventTime function, the call is handed to a ZVR function
// that integrates with the same tableau, error measure, acceptance test and
// Refine output as the built-in solver and adds event location by bisection
// on the dense output. Its source below is compiled by the engine's own
// compiler into a function value that runs as a frame in place of the
// built-in: the frame's results are the results of the call.
#include "numlib/calculus/ode_events.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/ode_tableaus.h"

namespace {

// The values the function takes in front of the call's own inputs: s, d, p,
// the default Refine, the nodes, the propagated weights, the error weights,
// the couplings and the continuous extension.
constexpr int kTableauValues = 9;

// Arguments: the nine tableau values, then fun, tspan, y0, options, extras.
// A located event cuts its step: the rows past the event time go, the event
// row ends the output so far, and integration restarts there (with the
// state OnEvent gives, when it gives one) from a fresh first stage. Several
// events in one step are taken earliest first; the later ones are found
// again from the restart.
constexpr char kSource[] = R"ZVR(function varargout = ode_events(s, d, p, refine, c, b, e, A, D, fun, tspan, y0, opts, varargin)
  % Event-capable Runge-Kutta integration over the tableau given by the first nine values.
  t0 = tspan(1); tend = tspan(2); span = tend - t0; n = numel(y0);
  tiny = 2.220446049250313e-16;
  rtol = 1e-3; atol = 1e-6; normc = 0; minstep = span * 1e-6; maxstep = span * 0.1;
  h = span * 1e-5; stats = 0; evfun = []; evtime = []; onev = []; outf = []; pre = {};
  names = {'RelTol', 'AbsTol', 'NormControl', 'MinStep', 'MaxStep', 'InitialStep', 'Refine', 'Stats', 'Events', 'EventTime', 'OnEvent', 'OutputFcn', 'PreArg'};
  vals = {rtol, atol, normc, minstep, maxstep, h, refine, stats, evfun, evtime, onev, outf, pre};
  for k = 1:numel(names)
    if isfield(opts, names{k})
      v = getfield(opts, names{k});
      if ~(isnumeric(v) && isempty(v))
        vals{k} = v;
      end
    end
  end
  [rtol, atol, normc, minstep, maxstep, h, refine, stats, evfun, evtime, onev, outf, pre] = deal(vals{:});
  rtol = max(rtol, tiny); atol = max(atol, tiny); minstep = max(minstep, tiny);
  maxstep = max(maxstep, minstep); h = max(h, minstep); refine = max(round(refine), 1);
  hasev = ~(isnumeric(evfun) && isempty(evfun)); hastime = ~(isnumeric(evtime) && isempty(evtime));
  hason = ~(isnumeric(onev) && isempty(onev)); hasout = ~(isnumeric(outf) && isempty(outf));
  ratio = atol / rtol; normc = normc ~= 0; stats = stats ~= 0;
  timed = hastime && isnumeric(evtime);
  if timed
    maxstep = min(maxstep, min(evtime(:, 1)));
  end
  y = y0(:); K = zeros(n, s + 2); nfev = 0; nsteps = 0; nfail = 0;
  tout = zeros(64, 1); yout = zeros(64, n); rows = 1;
  tout(1) = t0; yout(1, :) = y.';
  te = zeros(0, 1); ye = zeros(0, n); ie = zeros(0, 1);
  t = t0; stop = tend <= t0;
  if ~(t + h > t)
    h = eps(abs(t));
  end
  if ~stop
    K(:, 1) = feval(fun, pre{:}, t, y, varargin{:}); nfev = nfev + 1;
    if hasout
      feval(outf, pre{:}, [], [], 'init');
    end
    if hasev
      gprev = feval(evfun, pre{:}, t, y, varargin{:});
    end
  end
  while ~stop
    % A step ends at the earliest timed event that lies within it.
    timed_row = 0;
    if hastime
      if timed
        ph = evtime(:, 2); per = evtime(:, 1);
        next = ph + (floor((t - ph) ./ per) + 1) .* per;
        next(ph > t) = ph(ph > t);
      else
        next = feval(evtime, pre{:}, t, y, varargin{:});
      end
      next = next(:);
      next(~(next > t & next <= t + h)) = Inf;
      [tn, row] = min(next);
      if isfinite(tn)
        h = tn - t; timed_row = row;
      end
    end
    for j = 1:s
      K(:, j + 1) = feval(fun, pre{:}, t + c(j) * h, y + h * (K(:, 1:j) * A(1:j, j)), varargin{:});
    end
    ynew = y + h * (K(:, 1:s + 1) * b(:));
    K(:, s + 2) = feval(fun, pre{:}, t + h, ynew, varargin{:});
    nfev = nfev + s + 1;
    E = K * e(:);
    if normc
      err = h * norm(E) / max(norm(ynew), ratio);
    else
      err = max(h * abs(E) ./ max(abs(ynew), ratio));
    end
    accepted = err < rtol;
    if accepted
      nsteps = nsteps + 1;
      if rows + refine > numel(tout)
        grow = max(numel(tout), refine);
        tout = [tout; zeros(grow, 1)]; yout = [yout; zeros(grow, n)];
      end
      theta = (1:refine) / refine;
      tk = t + theta * h;
      P = zeros(d, refine);
      for q = 1:d
        P(q, :) = theta .^ q;
      end
      yk = y * ones(1, refine) + h * K * (D * P);
      yk(:, refine) = ynew;
      tk(refine) = t + h;
      first = rows + 1;
      tout(rows + 1:rows + refine) = tk;
      yout(rows + 1:rows + refine, :) = yk.';
      rows = rows + refine;
      event = 0; tev = t + h; yev = ynew; keep = [];
      if hasev
        [gnew, term, dir] = feval(evfun, pre{:}, t + h, ynew, varargin{:});
        gnew = gnew(:); term = term(:); dir = dir(:);
        if numel(term) == 1
          term = term * ones(numel(gnew), 1);
        end
        if numel(dir) == 1
          dir = dir * ones(numel(gnew), 1);
        end
        % A function that is zero at the step's start (an event just taken,
        % or a start on the surface) counts with the sign it takes just
        % after it, so that the point is not reported again; one that stays
        % zero there never counts.
        gprev = gprev(:);
        if any(gprev == 0)
          th = min(minstep / h, 0.5);
          g0 = feval(evfun, pre{:}, t + th * h, y + h * K * (D * (th .^ (1:d)).'), varargin{:});
          g0 = g0(:);
          gprev(gprev == 0) = g0(gprev == 0);
        end
        hit = gprev .* gnew <= 0 & gprev ~= 0 & dir .* gnew >= 0;
        est = Inf(size(gnew));
        est(hit) = t + h * gprev(hit) ./ (gprev(hit) - gnew(hit));
        est(hit & ~isfinite(est)) = t + h;
        [tfirst, i] = min(est);
        if isfinite(tfirst)
          % Bisection of the step on the chosen event, states from the dense output.
          tl = t; tr = t + h; gl = gprev(i); gr = gnew; 
          tm = (tl + tr) / 2;
          while tr - tl > minstep && tm > tl && tm < tr
            th = (tm - t) / h;
            ym = y + h * K * (D * (th .^ (1:d)).');
            gm = feval(evfun, pre{:}, tm, ym, varargin{:});
            if gl * gm(i) <= 0
              tr = tm; gr = gm(:);
            else
              tl = tm; gl = gm(i);
            end
            tm = (tl + tr) / 2;
          end
          tev = (tl + tr) / 2; th = (tev - t) / h;
          yev = y + h * K * (D * (th .^ (1:d)).');
          event = i; keep = gr;
        end
      end
      if event == 0 && timed_row > 0
        event = -timed_row;
      end
      gnext = [];
      if hasev
        gnext = gnew;
      end
      if event ~= 0
        % The rows past the event go; the event's own row ends the output.
        past = tout(1:rows) > tev;
        rows = rows - sum(past);
        rows = rows + 1; tout(rows) = tev; yout(rows, :) = yev.';
        if rows > 1 && tout(rows - 1) == tev
          rows = rows - 1; yout(rows, :) = yev.';
        end
        te(end + 1, 1) = tev; ye(end + 1, :) = yev.'; ie(end + 1, 1) = event;
        ynext = yev; moved = 0;
        if hason
          v = feval(onev, pre{:}, tev, yev, event, varargin{:});
          if numel(v) == n
            ynext = v(:); moved = 1;
          elseif ~isempty(v)
            error('ZVR:badSize', 'Bad size for result of onEvent function');
          end
        end
        if ~isempty(keep)
          gnext = keep;
        end
        if event > 0 && term(event) ~= 0
          stop = 1;
        end
        y = ynext; t = tev;
        if ~stop
          K(:, 1) = feval(fun, pre{:}, t, y, varargin{:}); nfev = nfev + 1;
        end
        if hasev && moved
          gnext = feval(evfun, pre{:}, t, y, varargin{:});
        end
      else
        t = t + h; y = ynew; K(:, 1) = K(:, s + 2);
      end
      gprev = gnext;
    else
      nfail = nfail + 1;
    end
    hused = h;
    if isfinite(err)
      h = h * min(max(0.8 * (rtol / err) ^ p, 0.5), 1.6);
    else
      h = h * 0.5;
    end
    if h > maxstep
      h = maxstep;
    else
      h = max(h, (t + 1) * 3.552713678800501e-15);
    end
    % A step that cannot move t, or a rejected one retried no smaller,
    % would repeat for ever.
    if ~(t + h > t)
      h = eps(abs(t));
    end
    if ~accepted && ~(h < hused)
      stop = 1;
    end
    if accepted && hasout
      % The rows this step left in the output (an event cuts them short).
      if feval(outf, pre{:}, tout(first:rows).', yout(first:rows, :).')
        stop = 1;
      end
    end
    if h < minstep || t >= tend - abs(tend) * 2.220446049250313e-15
      stop = 1;
    elseif t + h > tend
      h = tend - t;
    end
  end
  if hasout && tend > t0
    feval(outf, pre{:}, [], [], 'done');
  end
  if stats
    fprintf(2, 'Number of function evaluations: %d\n', nfev);
    fprintf(2, 'Successful steps: %d\n', nsteps);
    fprintf(2, 'Failed steps: %d\n', nfail);
  end
  tout = tout(1:rows); yout = yout(1:rows, :);
  if nargout == 1
    varargout{1} = struct('t', tout, 'y', yout, 'te', te, 'ye', ye, 'ie', ie);
  elseif nargout > 1
    varargout{1} = tout; varargout{2} = yout;
  end
endfunction
)ZVR";

// Pushes an r x c real matrix holding count doubles of v, row by row.
int push_rows(EngineContext* ctx, int32_t r, int32_t c, const double* v) {
  TN_TRY(stk_push_zeros(ctx, r, c, 0));
  int32_t rr = 0, cc = 0;
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_get_matrix(ctx, 0, &rr, &cc, &re, &im));
  std::memcpy(re, v, sizeof(double) * size_t(r) * size_t(c));
  return kOk;
}

int push_tableau(EngineContext* ctx, const double* tab) {
  const TableauView v = tableau_view(tab);
  const int s = v.s, d = v.d;
  for (int k = 0; k < 4; ++k) TN_TRY(stk_push_real(ctx, tab[k]));
  TN_TRY(push_rows(ctx, 1, s, tab + kTabNodes));
  TN_TRY(push_rows(ctx, 1, s + 1, tab + 4 + s));
  TN_TRY(push_rows(ctx, 1, s + 2, tab + 5 + 2 * s));
  TN_TRY(push_rows(ctx, s, s, tab + 7 + 3 * s));
  return push_rows(ctx, s + 2, d, tab + 7 + 3 * s + s * s);
}

}  // namespace

int ode_events_start(EngineContext* ctx, int nargin, int nargout, const double* tableau) {
  // [inputs] becomes [function][tableau values][inputs]. On a failure
  // whatever was pushed goes and the inputs stay as the call left them.
  const int32_t base = ctx->desc_top;
  const int args = kTableauValues + nargin;
  int status = push_tableau(ctx, tableau);
  if (status != kOk) {
    while (ctx->desc_top > base) stk_drop(ctx);
    return status;
  }
  TN_TRY(stk_move(ctx, args, nargin));
  const int32_t moved = ctx->desc_top;
  status = stk_push_cstr(ctx, int32_t(sizeof kSource - 1), kSource);
  if (status == kOk) {
    // The source is fixed and compiles: the compiler fails only for want of
    // scratch room (its variable table or its code), which is data stack room.
    status = bi_inline(ctx, 1, 1, 0);
    if (status != kOk && status != kStackOverflow) status = kDataStackOverflow;
  }
  InlineParts parts{};
  if (status == kOk) status = stk_get_inline(ctx, 0, &parts);
  if (status == kOk && !parts.code) status = TN_ILLEGAL();
  if (status == kOk) status = stk_move(ctx, args + 1, args);
  if (status != kOk) {
    while (ctx->desc_top > moved) stk_drop(ctx);
    stk_remove(ctx, nargin, kTableauValues);
    return status;
  }
  TN_TRY(stk_get_inline(ctx, args, &parts));  // the value moved with its item
  const CodePosition keep = ctx->pos;
  const CodePosition* caller = keep.kind != kAreaNone ? &keep : nullptr;
  const uint32_t start = uint32_t(reinterpret_cast<const uint8_t*>(parts.code + code_header_words(parts.code)) -
                                  reinterpret_cast<const uint8_t*>(data_words(ctx)));
  // No resume mark: the frame returns straight to the caller of the built-in.
  status = frame_push(ctx, caller, parts.code, frame_current_function(ctx), 0, nargout, args, 1, 0, 0);
  if (status != kOk) {
    stk_remove(ctx, nargin, kTableauValues + 1);
    return status;
  }
  ctx->pos = CodePosition{kAreaDataStack, 0, start};
  return kOk;
}
