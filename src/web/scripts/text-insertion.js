[0];
  // The page script, in this same script world, owns the composer: it knows how to put text
  // into each kind of editor so that the editor's model takes it, and waits for an open
  // input-method composition to be committed. Without it (a page still loading) there is no
  // composer to fill.
  if (typeof window.aureloInsertText !== "function") {
    return false;
  }
  window.aureloInsertText(text);
  return true;
})();
